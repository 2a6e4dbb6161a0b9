// The render dialog's choices of the last render (folder, file name, depth, codec), remembered
// across runs in the studio's configuration file. That file is only ever read and written on
// threads of their own: it may be a FIFO that never delivers, or huge, and the window must not
// wait for it. Until it has been read, and when it cannot be used, the dialog starts from its
// defaults and remembers in memory.
#pragma once

#include <QString>

struct RenderChoices {
  QString folder;
  QString fileName;  // "flames.mov", "shot_####.png"; its extension is the format
  int depth = 0;     // bits per channel; 0: the format's usual
  QString codec;     // a movie's encoder; empty: the format's usual

  bool operator==(const RenderChoices&) const = default;
};

// ~/.config/vortelline/vortelline-studio.conf (XDG_CONFIG_HOME's folder where it is set).
QString defaultConfigurationFile();

// Reads the choices from file, on a thread of its own, into memory; each later render's choices
// are written back to it, also off the calling thread. An empty file name keeps them in memory only.
void rememberChoicesIn(const QString& file);

// The choices in memory now: the last render's, else the file's once read, else none.
RenderChoices rememberedRenderChoices();
void rememberRenderChoices(const RenderChoices& choices);

// Reads the choices from a configuration file, which is not opened unless it is a regular file
// of a configuration's size; blocks. Defaults when the file is missing or unusable.
RenderChoices readRenderChoices(const QString& file);
