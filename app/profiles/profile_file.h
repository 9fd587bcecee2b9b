// The user profile file: one block per profile, opened by a line "&" and closed by a line
// "&&", one tag in angle brackets and its value per line. The writer formats a block; the
// walker splits a file's text into blocks and fills a record from each block's lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/profiles/profile_record.h"

namespace profiles {

// Line end of the file: the platform's text-mode line end. The reader takes either.
#ifdef _WIN32
inline constexpr std::string_view kProfileLineEnd = "\r\n";
#else
inline constexpr std::string_view kProfileLineEnd = "\n";
#endif

// Appends the block of `record`: an empty line, "&", the head, the class lines of its
// Video Format Class, "&&". The Attribute line carries bits 0x01 and 0x02 besides the
// record's; the H.264 KeepOrgSize line carries the record's own value. Description lines
// are escaped ("&lt;", "&amp;") so that none reads as a tag or a block mark, and line breaks
// in one-line texts become blanks.
void AppendProfileBlock(const ProfileRecord& record, std::string& out);

// What the walker has read of the block at hand.
struct ProfileBlock {
    size_t begin = 0;  // offset of the "&" line
    // Offset past the "&&" line; for a block that the next "&" line closes, the offset of that
    // line (less one empty line before it, which belongs to the next block); else the text's end.
    size_t end = 0;
    bool closed = false;        // false when the text ended inside the block
    bool closedByNext = false;  // closed by the next block's "&" line, not by "&&"
    bool hasClass = false;
    bool hasName = false;
    std::string name;      // the whole "<Name>" text, also where the record's array cuts it
    ProfileRecord record;  // the head and class block read so far
};

// The name a block is listed under: its "<Name>" text as the record holds it (cut at the
// record's array or at a NUL byte). Lookups and deletes by name take it as well as the whole
// text, so that every profile the user sees can be opened and deleted by the name shown.
std::string_view ListedProfileName(const ProfileBlock& block);
// True when `name` names the block: its whole "<Name>" text or its listed name.
bool ProfileBlockHasName(const ProfileBlock& block, std::string_view name);

// True when a profile name can be stored and read back exactly: it fits the record's name
// array and holds no line break. Lookups compare whole names, so a name the store cannot
// keep exactly is never reported free.
bool IsStorableProfileName(std::string_view name);

// A head line the walker has just applied, for the lookup rules.
enum class HeadLine { kOther, kName, kVideoFormatClass, kAttribute };

class ProfileBlockSink {
public:
    virtual ~ProfileBlockSink() = default;
    virtual void Open(const ProfileBlock&) {}
    virtual void Applied(HeadLine, const ProfileBlock&) {}
    // Called at "&&" and for a block the text ends in (`closed` false), after the defaults of
    // the class are supplied; returns true to end the walk.
    virtual bool Close(const ProfileBlock& block) = 0;
};

// Where a walk ended: outside any block, inside a block, or inside a block's description.
enum class ProfileTextEnd { kOutside, kInBlock, kInDescription, kStopped };

// Walks `text` block by block. Every block starts from a cleared record with Attribute 0x83
// and Video Format Class 11 (no class block) until its "<Video Format Class>" line.
// A UTF-8 byte-order mark at the start is skipped. The marks "&" and "&&" may carry trailing
// blanks (as editors leave them), and end a description. A "&" line inside an open block
// closes that block first: a lost "&&" never makes one block swallow the next.
ProfileTextEnd WalkProfileText(std::string_view text, ProfileBlockSink& sink);

// Makes `text` end outside any block, so that a block appended to it is read as a block of
// its own: a file cut inside a block (or its description) gets the lines that close it.
void CloseDanglingBlock(std::string& text);

}  // namespace profiles
