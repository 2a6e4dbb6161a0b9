// The effect module's own translation unit. Its entry points and registration bytes come from
// the host library, linked in whole so that nothing the host looks up is dropped.
#include "host/effect_main.h"
