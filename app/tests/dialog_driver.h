// Drives modal dialogs from inside their own message loops: a thread timer runs a script of
// steps, each waiting for its window (a top-level dialog of this process with a given title)
// and then acting on it, so that a test can answer what a call under test asks.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace {

class DialogDriver {
public:
    // A step: the title of the window it waits for ("" any other dialog of the process than
    // the ones named in earlier steps), and what to do with it.
    struct Step {
        std::string title;
        std::function<void(HWND)> act;
    };

    explicit DialogDriver(std::vector<Step> steps) : steps_(std::move(steps)) {
        self_ = this;
        timer_ = SetTimer(nullptr, 0, 40, &DialogDriver::Tick);
    }
    ~DialogDriver() {
        KillTimer(nullptr, timer_);
        self_ = nullptr;
    }
    // Steps done so far.
    size_t Done() const { return next_; }
    // The titles of the windows acted on, in order.
    const std::vector<std::string>& Seen() const { return seen_; }

    // Clicks button `id` of `dialog` as the user would (the button's notification).
    static void Click(HWND dialog, int id) {
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
    }

private:
    struct Search {
        const std::string* title;
        HWND found;
    };
    static BOOL CALLBACK Find(HWND window, LPARAM param) {
        auto* search = reinterpret_cast<Search*>(param);
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        char cls[32] = {}, text[128] = {};
        GetClassNameA(window, cls, sizeof cls);
        GetWindowTextA(window, text, sizeof text);
        if (pid != GetCurrentProcessId() || !IsWindowVisible(window) || !IsWindowEnabled(window) ||
            std::string(cls) != "#32770")
            return TRUE;
        if (search->title->empty() ? true : *search->title == text) {
            search->found = window;
            return FALSE;
        }
        return TRUE;
    }
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        DialogDriver* d = self_;
        if (!d || d->busy_ || d->next_ >= d->steps_.size()) return;
        Search search{&d->steps_[d->next_].title, nullptr};
        EnumWindows(&DialogDriver::Find, reinterpret_cast<LPARAM>(&search));
        if (!search.found) return;
        char text[128] = {};
        GetWindowTextA(search.found, text, sizeof text);
        d->seen_.push_back(text);
        d->busy_ = true;  // the action may run a loop of its own
        d->steps_[d->next_++].act(search.found);
        d->busy_ = false;
    }
    static inline DialogDriver* self_ = nullptr;
    std::vector<Step> steps_;
    std::vector<std::string> seen_;
    size_t next_ = 0;
    bool busy_ = false;
    UINT_PTR timer_ = 0;
};

}  // namespace
