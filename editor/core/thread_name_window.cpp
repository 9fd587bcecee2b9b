#include "editor/core/thread_name_window.h"

#include <cstring>

namespace editor {

std::string CThreadNameWindow::ClassName(const char* name) {
    std::string n = name ? name : "";
    if (n.size() > 200) n.resize(200);
    return "PemrickSTN" + n;
}

}  // namespace editor
