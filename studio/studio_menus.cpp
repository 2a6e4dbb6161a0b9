// The studio window's menus and the dialogs they open: settings files, the preview's zoom and
// background, the effect's About dialog and the render dialog.
#include <QActionGroup>
#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QSpinBox>
#include <QStatusBar>
#include <QUndoStack>
#include <utility>

#include "authoring/render_options.h"
#include "session/program_errors.h"
#include "studio/effect_panel.h"
#include "studio/preview_view.h"
#include "studio/render_dialog.h"
#include "studio/studio_window.h"

void StudioWindow::buildMenus() {
  QMenu* file = menuBar()->addMenu(tr("&File"));
  file->addAction(tr("&New"), QKeySequence::New, this, [this] {
    if (setChangesAside(tr("starting anew"))) {
      startAnew();
    }
  });
  file->addAction(tr("&Open Settings..."), QKeySequence::Open, this, [this] {
    if (!setChangesAside(tr("opening other settings"))) {
      return;
    }
    QString path = QFileDialog::getOpenFileName(this, tr("Open Settings"), QString(), tr("Settings (*.json)"));
    if (!path.isEmpty()) {
      connect(
          this, &StudioWindow::settingsOpened, this,
          [this](const QString& error) {
            if (!error.isEmpty()) {
              QMessageBox::warning(this, tr("Open Settings"), error);
            }
          },
          Qt::SingleShotConnection);
      openSettings(path);
    }
  });
  file->addAction(tr("&Save Settings"), QKeySequence::Save, this, &StudioWindow::save)
      ->setObjectName(QStringLiteral("saveAction"));
  file->addAction(tr("Save Settings &As..."), QKeySequence::SaveAs, this, &StudioWindow::saveWithDialog)
      ->setObjectName(QStringLiteral("saveAsAction"));
  file->addAction(tr("&Render..."), QKeySequence(Qt::CTRL | Qt::Key_R), this, &StudioWindow::showRenderDialog);
  file->addSeparator();
  file->addAction(tr("&Quit"), QKeySequence::Quit, this, &QWidget::close);

  QMenu* edit = menuBar()->addMenu(tr("&Edit"));
  QAction* undo = undo_->createUndoAction(this, tr("&Undo"));
  undo->setShortcuts(QKeySequence::Undo);
  QAction* redo = undo_->createRedoAction(this, tr("&Redo"));
  redo->setShortcuts(QKeySequence::Redo);
  edit->addAction(undo);
  edit->addAction(redo);
  edit->addSeparator();
  edit->addAction(tr("Reset &All Controls"), this,
                  [this] { resetControls(panel_->groupPositions(-1), tr("all controls")); });

  QMenu* view = menuBar()->addMenu(tr("&View"));
  view->setObjectName(QStringLiteral("viewMenu"));
  view->addAction(tr("&Layer Size..."), this, [this] {
    QSize size = layerSize();
    bool ok = false;
    QString text = QInputDialog::getText(this, tr("Layer Size"), tr("Width x height in pixels:"), QLineEdit::Normal,
                                         QStringLiteral("%1x%2").arg(size.width()).arg(size.height()), &ok);
    if (ok) {
      try {
        FrameSize parsed = parseFrameSize(text.toStdString());
        setLayerSize(QSize(parsed.width, parsed.height));
      } catch (const UsageError& error) {
        QMessageBox::warning(this, tr("Layer Size"), QString::fromStdString(error.what()));
      }
    }
  });
  view->addSeparator();
  view->addAction(tr("Zoom to &Fit"), QKeySequence(Qt::CTRL | Qt::Key_0), view_, &PreviewView::zoomToFit);
  view->addAction(tr("&Actual Pixels (100%)"), QKeySequence(Qt::CTRL | Qt::Key_1), view_,
                  [this] { view_->setZoom(1.0); });
  view->addAction(tr("Zoom &In"), QKeySequence::ZoomIn, view_, [this] { view_->setZoom(view_->zoom() * 2.0); });
  view->addAction(tr("Zoom &Out"), QKeySequence::ZoomOut, view_, [this] { view_->setZoom(view_->zoom() / 2.0); });
  QMenu* background = view->addMenu(tr("&Background"));
  auto* backgrounds = new QActionGroup(this);
  auto addBackground = [&](const QString& name, const std::function<void()>& choose) {
    QAction* action = background->addAction(name, this, choose);
    action->setCheckable(true);
    backgrounds->addAction(action);
    return action;
  };
  addBackground(tr("&Checkerboard"), [this] { view_->setBackground(PreviewBackground::checkerboard); })
      ->setChecked(true);
  addBackground(tr("&Black"), [this] { view_->setBackground(PreviewBackground::black); });
  addBackground(tr("C&olour..."), [this] {
    QColor colour = QColorDialog::getColor(Qt::darkBlue, this, tr("Background Colour"));
    if (colour.isValid()) {
      view_->setBackground(PreviewBackground::colour, colour);
    }
  });
  addBackground(tr("&Image..."), [this] { chooseBackground(); });
  // Flames on black given a true alpha, to judge them over the background as a compositor shows them.
  QMenu* alpha = view->addMenu(tr("&Alpha"));
  alpha->setObjectName(QStringLiteral("alphaMenu"));
  auto* alphas = new QActionGroup(this);
  const std::pair<QString, OutputAlpha> modes[] = {
      {tr("&Automatic (from the light where the look is opaque)"), OutputAlpha::automatic},
      {tr("From the &Light"), OutputAlpha::light},
      {tr("The &Effect's Own"), OutputAlpha::effect}};
  for (const auto& [name, mode] : modes) {
    QAction* action = alpha->addAction(name, this, [this, mode] { setOutputAlpha(mode); });
    action->setCheckable(true);
    action->setChecked(mode == OutputAlpha::automatic);
    alphas->addAction(action);
  }

  QMenu* help = menuBar()->addMenu(tr("&Help"));
  QAction* about = help->addAction(tr("&About Vortelline"), this, [this] { showEffectDialog(false); });
  about->setObjectName(QStringLiteral("aboutAction"));
  QAction* aboutStudio = help->addAction(tr("About Vortelline &Studio"), this, [this] {
    QMessageBox::about(this, tr("About Vortelline Studio"),
                       tr("<p><b>vortelline-studio %1</b></p><p>The flame effect's panel beside a live preview.</p>"
                          "<p>Effect module: %2<br>Qt %3</p>")
                           .arg(QApplication::applicationVersion(), QString::fromStdString(session_->module.path),
                                QString::fromLatin1(qVersion())));
  });
  aboutStudio->setObjectName(QStringLiteral("aboutStudioAction"));
}

void StudioWindow::chooseBackground() {
  QString path = QFileDialog::getOpenFileName(this, tr("Background Image"), QString(),
                                              tr("Images (*.png *.jpg *.jpeg *.bmp)"));
  QImage picture(path);
  if (!path.isEmpty() && picture.isNull()) {
    showProblem(tr("Cannot read the background image %1").arg(path));
  } else if (!picture.isNull()) {
    view_->setBackground(PreviewBackground::image, QColor(), picture);
  }
}

void StudioWindow::showEffectDialog(bool optionsButton) {
  std::string text;
  try {
    text = optionsButton ? optionsDialogText(*session_) : aboutText(*session_);
  } catch (const std::exception& error) {
    QMessageBox::warning(this, tr("About"), QString::fromStdString(error.what()));
    return;
  }
  // An effect that showed its own dialog hands back no text.
  if (!text.empty()) {
    QMessageBox::about(this, tr("About %1").arg(QString::fromStdString(session_->module.registration.name)),
                       QString::fromStdString(text));
  }
}

void StudioWindow::showRenderDialog() {
  RenderDialog dialog(*session_, emitter_, lastFrame_->value(), loop(), this);
  dialog.setFinishing(finishing_);
  dialog.noteOpaqueLook(opaqueLook_);
  dialog.exec();
}
