// Shared pieces of the multiplexer filter's Wine tests: the library's registration held
// for a whole test, elementary-stream fixtures turned into push sources, graph control
// and the outside judges' shell lines.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "filters/base/tests/com_test_util.h"
#include "filters/base/tests/test_filters.h"
#include "filters/base/tests/watchdog.h"
#include "filters/config/kestrune_config.h"

namespace varrowtest {

// Registers the library for the test's life under a machine-wide mutex, so that parallel
// test processes never unregister it under each other.
class Registered {
public:
    Registered();
    ~Registered();
    bool Ok() const { return ok_; }
    const std::wstring& Dll() const { return dll_; }

private:
    HANDLE mutex_ = nullptr;
    bool held_ = false;
    bool ok_ = false;
    std::wstring dll_;
};

// An elementary stream made by ffmpeg (by the file's kind: m2v, mp2, ac3, 264, aac).
struct Elementary {
    std::string kind;
    std::string path;
    std::vector<uint8_t> bytes;
    int seconds = 3;
};
// `seconds` of 352x288 pictures at 25 per second or of a 440 Hz tone, coded as `kind`.
::testing::AssertionResult MakeElementary(const std::string& kind, Elementary* out, int seconds = 3);
// A push source delivering the stream in pieces of `chunk` bytes, the first stamped 0.
testfilters::CTestPushSource* MakeSource(const Elementary& e, size_t chunk = 32768);
// The media type and samples MakeSource's pin offers and delivers.
testfilters::SourceConfig SourceConfigOf(const Elementary& e, size_t chunk = 32768);

IBaseFilter* NewVarrow();
IKestruneConfigEx* ConfigOf(IUnknown* object);
IPin* FindPin(IBaseFilter* filter, const wchar_t* id);
HRESULT SetInt(IKestruneConfig* config, const GUID& key, int32_t value);
int64_t GetInt(IKestruneConfig* config, const GUID& key);
// The next program after `previous` (null: the first) of the filter, or null.
IKestruneConfigEx* NextObject(IKestruneConfig* owner, const GUID& query, IKestruneConfigEx* previous);

HRESULT Control(IGraphBuilder* graph, HRESULT (STDMETHODCALLTYPE IMediaControl::*call)());
HRESULT WaitForCompletion(IGraphBuilder* graph, DWORD timeoutMs);

// Runs a shell line in the fixture folder: its status, and its output through `output`.
int Shell(const std::string& line, std::string* output);
std::wstring Wide(const std::string& text);

using comtest::Watchdog;

}  // namespace varrowtest
