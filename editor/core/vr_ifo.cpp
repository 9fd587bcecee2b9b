#include "editor/core/vr_ifo.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "common/bitstream/mpeg2_video_header.h"
#include "common/bitstream/start_code.h"

namespace editor {
namespace {

constexpr size_t kNewHeader = 520;
constexpr size_t kAttribute = 60;
constexpr size_t kTitle = 142;
constexpr size_t kProgram = 25;
constexpr size_t kMinFileSize = 12288;
constexpr size_t kSector = 2048;
constexpr char kMagic[] = "DVD_RTR_VMG0";

uint32_t Get16(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) << 8 | b[at + 1];
}
uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}
void Set16(std::vector<uint8_t>* b, size_t at, uint32_t v) {
    (*b)[at] = uint8_t(v >> 8);
    (*b)[at + 1] = uint8_t(v);
}
void Set32(std::vector<uint8_t>* b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        (*b)[at + size_t(i)] = uint8_t(v >> (24 - 8 * i));
}
void Append(std::vector<uint8_t>* to, const std::vector<uint8_t>& bytes) {
    to->insert(to->end(), bytes.begin(), bytes.end());
}

// A table of the file: [start, start + length) within it, by a length field of the table.
bool TableAt(const std::vector<uint8_t>& f, size_t start, size_t lengthField, std::vector<uint8_t>* out) {
    if (start == 0 || start >= f.size() || f.size() - start < lengthField + 4) return false;
    const uint64_t length = uint64_t(Get32(f, start + lengthField)) + 1;
    if (length < lengthField + 4 || length > f.size() - start) return false;
    out->assign(f.begin() + int64_t(start), f.begin() + int64_t(start + length));
    return true;
}

// Bytes of a movie entry before its two entry tables: the entry's head (23 or 35 bytes,
// 16 more with any of the bits 0x78 of its second byte), the two counts, 2 bytes and the
// 4-byte start sector.
size_t MovieHead(const uint8_t* entry) {
    size_t head = (entry[1] & 0x80) ? 35 : 23;
    if (entry[1] & 0x78) head += 16;
    return head;
}

// The length of a program record from its own fields: an 18-byte head and cells of 7 or
// 135 bytes (by whether a cell's first byte is below 64), or, when its second byte is 32
// or more, an 8-byte head and cells of 2 or 130 bytes; the cell count is its sixth byte.
// 0 when the record does not fit in `room`.
size_t ProgramLength(const uint8_t* p, size_t room) {
    if (room < 8) return 0;
    const bool shortCells = p[1] >= 32;
    size_t at = shortCells ? 8 : 18;
    if (at > room) return 0;
    for (int cell = 0; cell < p[5]; ++cell) {
        if (at >= room) return 0;
        const size_t n = p[at] < 64 ? (shortCells ? 2 : 7) : (shortCells ? 130 : 135);
        if (n > room - at) return 0;
        at += n;
    }
    return at;
}

bool Fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

}  // namespace

// ---- file operations ----

bool VrFileOps::Read(const std::string& path, size_t limit, std::vector<uint8_t>* bytes, bool* exists) {
    bytes->clear();
    std::error_code ec;
    *exists = std::filesystem::exists(path, ec) || ec;
    if (!*exists) return false;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::vector<uint8_t> buffer(64 * 1024);
    bool ok = true;
    for (;;) {
        const size_t n = std::fread(buffer.data(), 1, buffer.size(), f);
        if (bytes->size() + n > limit) {
            ok = false;
            break;
        }
        bytes->insert(bytes->end(), buffer.data(), buffer.data() + n);
        if (n < buffer.size()) {
            ok = !std::ferror(f);
            break;
        }
    }
    std::fclose(f);
    return ok;
}

bool VrFileOps::MakeFolder(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    return std::filesystem::is_directory(path, ec);
}

bool VrFileOps::Open(const std::string& path) {
    file_ = std::fopen(path.c_str(), "wb");
    return file_ != nullptr;
}

bool VrFileOps::Write(const uint8_t* data, size_t length) {
    if (!file_) return false;
    return length == 0 || std::fwrite(data, 1, length, static_cast<std::FILE*>(file_)) == length;
}

bool VrFileOps::Close() {
    if (!file_) return false;
    std::FILE* f = static_cast<std::FILE*>(file_);
    file_ = nullptr;
    const bool flushed = std::fflush(f) == 0;
    return std::fclose(f) == 0 && flushed;
}

bool VrFileOps::Replace(const std::string& from, const std::string& to) {
    std::error_code ec;
    std::filesystem::rename(from, to, ec);
    return !ec;
}

void VrFileOps::Remove(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
}

// ---- reading ----

bool CVrIfo::Parse(const std::vector<uint8_t>& f, VrIfoContents* out, std::string* error) {
    *out = VrIfoContents();
    if (f.size() < 360 || std::memcmp(f.data(), kMagic, 12) != 0) return Fail(error, "not a DVD-VR management file");
    const uint64_t headerLength = uint64_t(Get32(f, 28)) + 1;
    if (headerLength < 360 || headerLength > f.size()) return Fail(error, "its header length lies outside it");
    out->header.assign(f.begin(), f.begin() + int64_t(headerLength));

    // The movie table: attribute records, the movie entries and their offsets.
    std::vector<uint8_t> movie;
    if (!TableAt(f, Get32(f, 256), 4, &movie)) return Fail(error, "its movie table lies outside it");
    const size_t attributes = movie[3];
    size_t at = 8 + attributes * kAttribute;
    if (at + 2 > movie.size()) return Fail(error, "its attribute records run past the movie table");
    for (size_t i = 0; i < attributes; ++i) {
        std::array<uint8_t, 60> a;
        std::memcpy(a.data(), &movie[8 + i * kAttribute], kAttribute);
        out->attributes.push_back(a);
    }
    const size_t movies = Get16(movie, at);
    at += 2;
    if (at + 4 * movies > movie.size()) return Fail(error, "its movie offsets run past the movie table");
    for (size_t i = 0; i < movies; ++i) {
        const size_t start = Get32(movie, at + 4 * i);
        if (start < at + 4 * movies || start >= movie.size())
            return Fail(error, "a movie entry lies outside its table");
        const size_t room = movie.size() - start;
        if (room < 2) return Fail(error, "a movie entry is cut short");
        const size_t head = MovieHead(&movie[start]);
        if (room < head + 10) return Fail(error, "a movie entry is cut short");
        const size_t countA = Get16(movie, start + head), countB = Get16(movie, start + head + 2);
        const size_t tables = head + 10 + 7 * countA;
        const size_t length = tables + 3 * countB;
        if (length > room) return Fail(error, "a movie entry's tables run past its table");
        for (size_t k = 0; k < countB; ++k)
            out->sectors += Get16(movie, start + tables + 3 * k + 1) & 0x3FF;
        out->movies.emplace_back(movie.begin() + int64_t(start), movie.begin() + int64_t(start + length));
    }

    if (!TableAt(f, Get32(f, 260), 4, &out->secondTable)) return Fail(error, "its second table lies outside it");

    // The program table: title records, the offsets of the program records, the records.
    const size_t programStart = Get32(f, 304);
    if (programStart == 0 || programStart + 4 > f.size()) return Fail(error, "its program table lies outside it");
    const uint8_t* p = f.data() + programStart;
    const size_t room = f.size() - programStart;
    const size_t titles = p[1], programs = uint32_t(p[2]) << 8 | p[3];
    const size_t offsets = 4 + titles * kTitle;
    if (offsets + 4 * programs > room) return Fail(error, "its program records run past it");
    for (size_t i = 0; i < titles; ++i) {
        std::array<uint8_t, 142> t;
        std::memcpy(t.data(), p + 4 + i * kTitle, kTitle);
        out->titles.push_back(t);
    }
    for (size_t i = 0; i < programs; ++i) {
        const size_t at4 = offsets + 4 * i;
        const size_t start = size_t(p[at4]) << 24 | size_t(p[at4 + 1]) << 16 | size_t(p[at4 + 2]) << 8 | p[at4 + 3];
        if (start < offsets + 4 * programs || start >= room) return Fail(error, "a program record lies outside it");
        const size_t length = ProgramLength(p + start, room - start);
        if (length == 0) return Fail(error, "a program record runs past the file");
        out->programs.emplace_back(p + start, p + start + length);
    }

    // The carried tables, each by its own length field.
    const size_t carriedAt[3] = {308, 352, 356};
    const size_t lengthField[3] = {2, 4, 2};
    for (int i = 0; i < 3; ++i) {
        const size_t start = Get32(f, carriedAt[i]);
        if (start != 0 && !TableAt(f, start, lengthField[i], &out->carried[size_t(i)]))
            return Fail(error, "a further table lies outside it");
    }
    return true;
}

// ---- building ----

CVrIfo::CVrIfo(VrFileOps* ops) : ops_(ops ? ops : &defaultOps_) {}

void CVrIfo::OpenFolder(const std::string& folder) {
    folder_ = folder;
    std::string prefix = folder;
    // The names are the folder path and the file name: a separator between them.
    if (!prefix.empty() && prefix.back() != '/' && prefix.back() != '\\') prefix += '/';
    ifoPath_ = prefix + "VR_MANGR.IFO";
    vroPath_ = prefix + "VR_MOVIE.VRO";
    bool exists = false;
    readable_ = ops_->Read(ifoPath_, kMaxFileSize, &old_, &exists);
    existing_ = exists;
    if (!existing_) readable_ = true;
}

namespace {

// The parts of a new management file as Build puts them together: the existing file's
// tables with the new movie's added, then the header that points at them.
struct IfoBuild {
    VrIfoContents in;
    std::vector<std::array<uint8_t, 60>> attributes;
    size_t attributeNumber = 0;  // 1-based, of the new movie's attribute record
    std::vector<std::vector<uint8_t>> movies;
    std::vector<uint8_t> movie, second, programTable, header;
    size_t total = 0, fileSize = 0;
};

// The existing file's counters must leave room for one more movie, program and entry.
bool CheckRoom(const VrMovieInfo& m, const VrIfoContents& in, std::string* error) {
    if (m.tableA.size() % 7 != 0 || m.tableB.size() % 3 != 0) return Fail(error, "entry tables of partial entries");
    if (m.tableA.size() / 7 > 0xFFFF || m.tableB.size() / 3 > 0xFFFF)
        return Fail(error, "more entries than a movie entry can count");
    if (in.movies.size() >= 0xFFFF) return Fail(error, "the management file holds as many movies as it can");
    if (in.titles.size() >= 0xFF || in.programs.size() >= 0xFFFF)
        return Fail(error, "the management file holds as many programs as it can");
    if (in.sectors > 0xFFFFFFFFu) return Fail(error, "the movie file is larger than the management file can address");
    return true;
}

// Attribute record of the new movie; an equal existing one is used instead.
bool AddAttribute(const VrMovieInfo& m, IfoBuild* b, std::string* error) {
    std::array<uint8_t, 60> attribute{};
    attribute[0] = uint8_t((m.video[0] & 3) << 6 | (m.video[1] & 3) << 4 | (m.video[2] & 3) << 2);
    attribute[1] = uint8_t((m.video[3] & 7) << 3);
    attribute[2] = 1;
    attribute[4] = uint8_t((m.audioCoding & 7) << 5 | (m.audioFlag & 1));
    attribute[5] = uint8_t((m.audioZero1 & 3) << 6 | (m.audioZero2 & 3) << 4 | (m.audioField5 & 15));
    attribute[6] = uint8_t(m.audioField6);
    b->attributes = b->in.attributes;
    for (size_t i = 0; i < b->attributes.size() && b->attributeNumber == 0; ++i)
        if (b->attributes[i] == attribute) b->attributeNumber = i + 1;
    if (b->attributeNumber != 0) return true;
    if (b->attributes.size() >= 0xFF)
        return Fail(error, "the management file holds as many attribute records as it can");
    b->attributes.push_back(attribute);
    b->attributeNumber = b->attributes.size();
    return true;
}

// The new movie entry: recording time, attribute number, times, entry counts, its first
// sector in the movie file, then its two entry tables.
void AddMovieEntry(const VrMovieInfo& m, IfoBuild* b) {
    std::vector<uint8_t> entry(33, 0);
    const uint64_t when = uint64_t(m.year & 0x3FFF) << 26 | uint64_t(m.month & 15) << 22 | uint64_t(m.day & 31) << 17 |
                          uint64_t(m.hour & 31) << 12 | uint64_t(m.minute & 63) << 6 | uint64_t(m.second & 63);
    for (int i = 0; i < 5; ++i)
        entry[2 + size_t(i)] = uint8_t(when >> (32 - 8 * i));
    entry[8] = uint8_t(b->attributeNumber);
    Set32(&entry, 9, m.startTime);
    Set32(&entry, 15, m.endTime);
    Set16(&entry, 23, uint32_t(m.tableA.size() / 7));
    Set16(&entry, 25, uint32_t(m.tableB.size() / 3));
    Set32(&entry, 29, uint32_t(b->in.sectors));
    Append(&entry, m.tableA);
    Append(&entry, m.tableB);
    b->movies = b->in.movies;
    b->movies.push_back(entry);
}

// Records after a table of their 32-bit offsets, counted from the table's start, which
// already holds `table` bytes before the offsets.
template <typename Records>
void AppendWithOffsets(std::vector<uint8_t>* table, const Records& records) {
    size_t offset = table->size() + 4 * records.size();
    for (const auto& r : records) {
        for (int i = 0; i < 4; ++i)
            table->push_back(uint8_t(offset >> (24 - 8 * i)));
        offset += r.size();
    }
    for (const auto& r : records)
        table->insert(table->end(), r.begin(), r.end());
}

void MakeMovieTable(IfoBuild* b) {
    std::vector<uint8_t>& movie = b->movie;
    movie.assign(8, 0);
    movie[2] = 1;
    movie[3] = uint8_t(b->attributes.size());
    for (const auto& a : b->attributes)
        movie.insert(movie.end(), a.begin(), a.end());
    movie.push_back(uint8_t(b->movies.size() >> 8));
    movie.push_back(uint8_t(b->movies.size()));
    AppendWithOffsets(&movie, b->movies);
    Set32(&movie, 4, uint32_t(movie.size() - 1));
}

// One title record and one program record for the new movie, after the existing ones.
void MakeProgramTable(const VrMovieInfo& m, IfoBuild* b) {
    const size_t programNumber = b->in.programs.size() + 1;
    std::array<uint8_t, 142> title{};
    title[3] = 1;
    std::memcpy(&title[4], m.programText.data(), std::min<size_t>(m.programText.size(), 128));
    title[134] = uint8_t(programNumber >> 8);
    title[135] = uint8_t(programNumber);
    for (int i = 0; i < 4; ++i)
        title[136 + size_t(i)] = uint8_t(m.startTime >> (24 - 8 * i));
    std::vector<uint8_t> program(kProgram, 0);
    Set16(&program, 2, uint32_t(b->movies.size()));
    program[5] = 1;
    Set32(&program, 6, m.startTime);
    Set32(&program, 12, m.endTime);
    Set32(&program, 19, m.startTime);
    std::vector<std::array<uint8_t, 142>> titles = b->in.titles;
    titles.push_back(title);
    std::vector<std::vector<uint8_t>> programs = b->in.programs;
    programs.push_back(program);
    b->programTable = {0, uint8_t(titles.size()), uint8_t(programs.size() >> 8), uint8_t(programs.size())};
    for (const auto& t : titles)
        b->programTable.insert(b->programTable.end(), t.begin(), t.end());
    AppendWithOffsets(&b->programTable, programs);
}

// The header: sizes and the offsets of every table; a new file's fixed fields and time
// zone as well.
bool MakeHeader(const VrMovieInfo& m, bool existing, IfoBuild* b, std::string* error) {
    std::vector<uint8_t>& header = b->header;
    header = existing ? b->in.header : std::vector<uint8_t>(kNewHeader, 0);
    const size_t headerLength = header.size();
    b->total = headerLength + b->movie.size() + b->second.size() + b->programTable.size();
    for (const auto& c : b->in.carried)
        b->total += c.size();
    b->fileSize = std::max(kMinFileSize, (b->total + kSector - 1) / kSector * kSector);
    if (b->fileSize > CVrIfo::kMaxFileSize) return Fail(error, "the management file would grow past its limit");
    std::memcpy(header.data(), kMagic, 12);
    Set32(&header, 12, uint32_t(b->fileSize - 1));
    Set32(&header, 28, uint32_t(headerLength - 1));
    if (!existing) {
        header[33] = 0x10;
        const uint32_t zone = uint32_t(60 - m.timeZoneBias) & 0xFFF;
        header[64] = uint8_t(0x10 | zone >> 8);
        header[65] = uint8_t(zone);
        header[515] = 0;
        header[516] = 0;
        header[517] = 0;
        header[518] = 0;
        header[519] = 7;
    }
    header[66] = 0;
    header[67] = 0x12;
    std::fill(header.begin() + 68, header.begin() + 98, uint8_t(0xFF));
    size_t at = headerLength;
    Set32(&header, 256, uint32_t(at));
    at += b->movie.size();
    Set32(&header, 260, uint32_t(at));
    at += b->second.size();
    Set32(&header, 304, uint32_t(at));
    at += b->programTable.size();
    const size_t carriedAt[3] = {308, 352, 356};
    for (size_t i = 0; i < 3; ++i) {
        Set32(&header, carriedAt[i], b->in.carried[i].empty() ? 0 : uint32_t(at));
        at += b->in.carried[i].size();
    }
    return true;
}

}  // namespace

bool CVrIfo::Build(std::string* error) {
    if (existing_ && !readable_) return Fail(error, ifoPath_ + ": the existing management file cannot be read");
    IfoBuild b;
    if (existing_) {
        std::string why;
        if (!Parse(old_, &b.in, &why)) return Fail(error, ifoPath_ + ": " + why + "; it is left as it is");
    }
    if (!CheckRoom(movie_, b.in, error) || !AddAttribute(movie_, &b, error)) return false;
    AddMovieEntry(movie_, &b);
    MakeMovieTable(&b);
    b.second = existing_ ? b.in.secondTable : std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 7};
    MakeProgramTable(movie_, &b);
    if (!MakeHeader(movie_, existing_, &b, error)) return false;
    return WriteFile(b.header, b.movie, b.second, b.programTable, b.in.carried, b.fileSize - b.total, error);
}

// Written beside the old file, which it replaces once it is whole.
bool CVrIfo::WriteFile(const std::vector<uint8_t>& header, const std::vector<uint8_t>& movie,
                       const std::vector<uint8_t>& second, const std::vector<uint8_t>& programTable,
                       const std::array<std::vector<uint8_t>, 3>& carried, size_t padding, std::string* error) {
    if (!ops_->MakeFolder(folder_)) return Fail(error, folder_ + ": the folder cannot be made");
    const std::string temp = ifoPath_ + ".new";
    if (!ops_->Open(temp)) return Fail(error, temp + ": cannot be created");
    const std::vector<uint8_t> zeros(padding, 0);
    bool ok = ops_->Write(header.data(), header.size()) && ops_->Write(movie.data(), movie.size()) &&
              ops_->Write(second.data(), second.size()) && ops_->Write(programTable.data(), programTable.size());
    for (const auto& c : carried)
        ok = ok && (c.empty() || ops_->Write(c.data(), c.size()));
    ok = ok && ops_->Write(zeros.data(), zeros.size());
    const bool closed = ops_->Close();
    if (!ok || !closed) {
        ops_->Remove(temp);
        return Fail(error, temp + ": writing failed; the management file is left as it was");
    }
    if (!ops_->Replace(temp, ifoPath_)) {
        ops_->Remove(temp);
        return Fail(error, ifoPath_ + ": cannot be replaced; it is left as it was");
    }
    return true;
}

// ---- recording ----

void CVrRecorder::UnitStart(int64_t byteOffset) {
    units_.push_back({byteOffset / int64_t(kSector), -1});
}

void CVrRecorder::VideoTime(int64_t ts) {
    if (ts < 0) return;
    if (firstTime_ < 0 || ts < firstTime_) firstTime_ = ts;
    lastTime_ = std::max(lastTime_, ts);
    if (!units_.empty() && units_.back().startTime < 0) units_.back().startTime = ts;
}

void CVrRecorder::SequenceHeader(const uint8_t* p, size_t n) {
    common::MpegSequenceHeader h;
    if (haveVideo_ || !p || !common::ReadMpegSequenceHeaderFields(std::span<const uint8_t>(p, n), &h)) return;
    haveVideo_ = true;
    const int width = int(h.horizontalSize), height = int(h.verticalSize);
    const int aspect = h.aspectRatioInformation, rate = h.frameRateCode;
    const bool pal = rate == 3 || rate == 6;
    // Two fields a frame; the forbidden and reserved codes count as 60 frames a second.
    uint32_t num = 60, den = 1;
    common::MpegFrameRate(rate, &num, &den);
    fieldRate_ = 2.0 * num / den;
    // An MPEG-2 stream has a sequence extension after its header.
    bool mpeg2 = false;
    const uint8_t* const end = p + n;
    for (const uint8_t* at = common::FindStartCode(p + common::kMpegSequenceHeaderBytes, end); at != end && !mpeg2;
         at = common::FindStartCode(at + 3, end))
        mpeg2 = end - at >= 4 && at[3] == common::kMpegExtensionStartCode;
    const bool full = height > (pal ? 288 : 240);
    const int resolution = width >= 720 ? 0 : width >= 704 ? 1 : full ? 2 : 3;
    video_ = {mpeg2 ? 1 : 0, pal ? 1 : 0, aspect == 3 ? 3 : 0, resolution};
}

void CVrRecorder::AudioFrame(int kind, const uint8_t* p, size_t n, int lpcmChannels) {
    if (haveAudio_) return;
    haveAudio_ = true;
    if (kind == 0) {  // LPCM
        audioCoding_ = 4;
        audioChannels_ = std::max(1, lpcmChannels);
    } else if (kind == 1) {  // AC-3: channels by acmod (ATSC A/52 5.4.2.3) and the LFE bit
        audioCoding_ = 0;
        static const int kChannels[8] = {2, 1, 2, 3, 3, 4, 4, 5};
        audioChannels_ = n > 6 ? kChannels[p[6] >> 5] : 2;
    } else {  // MPEG audio: mode 3 is one channel (ISO/IEC 11172-3 2.4.2.3)
        audioCoding_ = 2;
        audioChannels_ = n > 3 && (p[3] >> 6) == 3 ? 1 : 2;
    }
}

bool CVrRecorder::MakeMovie(int64_t totalBytes, VrMovieInfo* m, std::string* error) const {
    *m = VrMovieInfo();
    m->audioCoding = audioCoding_;
    m->audioField5 = std::clamp(audioChannels_ - 1, 0, 7);
    m->video = video_;
    const std::time_t now = std::time(nullptr);
    std::tm local{}, utc{};
#ifdef _WIN32
    localtime_s(&local, &now);
    gmtime_s(&utc, &now);
#else
    localtime_r(&now, &local);
    gmtime_r(&now, &utc);
#endif
    m->year = local.tm_year + 1900;
    m->month = local.tm_mon + 1;
    m->day = local.tm_mday;
    m->hour = local.tm_hour;
    m->minute = local.tm_min;
    m->second = local.tm_sec;
    utc.tm_isdst = local.tm_isdst;
    m->timeZoneBias = int((std::mktime(&utc) - now) / 60);  // UTC = local time + bias
    m->startTime = uint32_t(std::max<int64_t>(0, firstTime_));
    m->endTime = uint32_t(std::max<int64_t>(0, lastTime_));
    const int64_t endSector = (totalBytes + int64_t(kSector) - 1) / int64_t(kSector);
    const double ticksPerField = 90000.0 / fieldRate_;
    auto fields = [&](int64_t ticks) { return int(std::clamp<double>(double(ticks) / ticksPerField + 0.5, 0, 255)); };
    for (size_t i = 0; i < units_.size(); ++i) {
        const Unit& u = units_[i];
        const int64_t next = i + 1 < units_.size() ? units_[i + 1].startSector : endSector;
        const int64_t sectors = next - u.startSector;
        if (sectors > 0x3FF) return Fail(error, "a video object unit is larger than its entry can hold");
        const int64_t end = i + 1 < units_.size() && units_[i + 1].startTime >= 0 ? units_[i + 1].startTime : lastTime_;
        const int length = u.startTime >= 0 && end >= u.startTime ? fields(end - u.startTime) : 0;
        m->tableB.insert(m->tableB.end(), {uint8_t(length), uint8_t(sectors >> 8), uint8_t(sectors)});
    }
    // One time entry per ten seconds after the first picture.
    size_t unit = 0;
    for (int64_t t = firstTime_ + 900000; firstTime_ >= 0 && t <= lastTime_; t += 900000) {
        while (unit + 1 < units_.size() && units_[unit + 1].startTime >= 0 && units_[unit + 1].startTime <= t)
            ++unit;
        if (units_.empty() || units_[unit].startTime < 0) break;
        const uint32_t number = uint32_t(unit + 1), sector = uint32_t(units_[unit].startSector);
        m->tableA.insert(m->tableA.end(),
                         {uint8_t(number >> 8), uint8_t(number), uint8_t(fields(t - units_[unit].startTime)),
                          uint8_t(sector >> 24), uint8_t(sector >> 16), uint8_t(sector >> 8), uint8_t(sector)});
    }
    return true;
}

bool CVrRecorder::Finish(int64_t totalBytes, const std::string& folder, std::string* error, VrFileOps* ops) {
    VrMovieInfo movie;
    if (!MakeMovie(totalBytes, &movie, error)) return false;
    CVrIfo ifo(ops);
    ifo.OpenFolder(folder);
    ifo.SetMovie(movie);
    return ifo.Build(error);
}

}  // namespace editor
