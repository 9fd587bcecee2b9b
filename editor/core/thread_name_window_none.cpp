// Builds without a window system: the marking does nothing.
#include "editor/core/thread_name_window.h"

namespace editor {

void CThreadNameWindow::Create(const char*) {}
void CThreadNameWindow::Destroy() {}

}  // namespace editor
