#include "tools/mpeg_join.h"

#include <cstdio>
#include <cstdlib>

#include "editor/core/edit_engine.h"

namespace tools {
namespace {

bool ParseTime(const std::string& text, int64_t* out) {
    if (text == "-") {
        *out = editor::kNoTime;
        return true;
    }
    char* end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    if (!end || *end != '\0' || seconds < 0 || seconds > 1e7) return false;
    *out = int64_t(seconds * 1e7 + 0.5);
    return true;
}

int WriterType(const std::string& name) {
    if (name == "mpeg1") return editor::kWriterMpeg1;
    if (name == "mpeg2") return editor::kWriterMpeg2;
    if (name == "vcd") return editor::kWriterVcd;
    if (name == "dvd") return editor::kWriterDvd;
    if (name == "dvdvr") return editor::kWriterDvdVr;
    if (name == "svcd") return editor::kWriterSvcd;
    return 0;
}

JoinResult Fail(const std::string& message) {
    JoinResult r;
    r.status = 1;
    r.message = message;
    return r;
}

}  // namespace

JoinResult RunJoin(const std::vector<std::string>& args) {
    int type = editor::kWriterMpeg2;
    std::string audio, out;
    int64_t split = 0;
    std::vector<std::string> clips;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--type" && hasValue) {
            type = WriterType(args[++i]);
            if (!type) return Fail("unknown output type " + args[i]);
        } else if (a == "--audio" && hasValue) {
            audio = args[++i];
        } else if (a == "--split" && hasValue) {
            split = std::atoll(args[++i].c_str());
        } else if (a == "-o" && hasValue) {
            out = args[++i];
        } else {
            clips.push_back(a);
        }
    }
    if (out.empty() || clips.empty() || clips.size() % 3 != 0)
        return Fail("usage: mpeg_join [--type KIND] [--audio KIND] [--split BYTES] -o OUT CLIP IN OUT ...");

    editor::CEditEngine engine;
    engine.SetCapacity(int(clips.size() / 3));
    engine.SetWriterType(type);
    for (size_t i = 0; i < clips.size(); i += 3) {
        int64_t in = 0, outTime = 0;
        if (!ParseTime(clips[i + 1], &in) || !ParseTime(clips[i + 2], &outTime))
            return Fail("bad in or out time for " + clips[i]);
        const int r = engine.AddClip(clips[i], in, outTime, true);
        if (r == -2) return Fail(clips[i] + ": not an MPEG-1 or MPEG-2 program stream");
        if (r == -4)
            return Fail(clips[i] + ": the in point " + clips[i + 1] + " is not before the out point " + clips[i + 2]);
        if (r == -5) return Fail(clips[i] + ": the in point " + clips[i + 1] + " lies at or past the end of the clip");
        if (r < 0) return Fail(clips[i] + ": cannot be probed");
    }
    // The audio kind of the output follows the first clip unless one is asked for.
    const editor::ClipItem& first = engine.Clip(0);
    int kind = editor::kPsAudioMpeg;
    if (audio == "ac3" ||
        (audio.empty() && first.audioStream >= editor::kAc3IndexBase && first.audioStream < editor::kLpcmIndexBase))
        kind = editor::kPsAudioAc3;
    if (audio == "lpcm" || (audio.empty() && first.audioStream >= editor::kLpcmIndexBase)) kind = editor::kPsAudioLpcm;
    editor::AudioFormat format;
    if (kind == editor::kPsAudioLpcm) {
        // The LPCM format of the first clip, from its first packets.
        if (!editor::CEditEngine::ReadLpcmFormat(first, &format)) return Fail(first.path + ": no LPCM format found");
        engine.SetAudioKind(kind, &format);
    } else {
        engine.SetAudioKind(kind, nullptr);
    }
    engine.SetSplitSize(split);
    engine.SetOutputFileName(out);
    if (!engine.Start()) return Fail("the engine did not start");
    const int result = engine.Wait();
    JoinResult r;
    r.outputFiles = engine.OutputFileCount();
    if (result == editor::kMuxFailed || !engine.ClipsOk()) {
        r.status = 1;
        r.message = r.outputFiles == 0 ? "the cuts hold no picture and no sound (no GOP begins after an in point)"
                                       : "the join failed";
        // No output is left behind a failure.
        for (int i = 0; i < r.outputFiles; ++i)
            std::remove((i == 0 ? out : editor::CEditEngine::GetPartName(i, out)).c_str());
        r.outputFiles = 0;
    }
    return r;
}

}  // namespace tools
