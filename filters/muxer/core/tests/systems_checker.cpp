#include "filters/muxer/core/tests/systems_checker.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <sstream>

namespace muxertest {

namespace {

constexpr int64_t kTick = 300;  // one 90 kHz tick in 27 MHz ticks

std::string At(const char* what, size_t pos) {
    std::ostringstream s;
    s << what << " at byte " << pos;
    return s.str();
}

// 2.4.3.7: '001x' or '0001' prefix, three marker bits; 33-bit value in 27 MHz ticks.
bool TimeStamp(const uint8_t* p, uint8_t prefix, int64_t* t27) {
    if ((p[0] >> 4) != prefix || !(p[0] & 1) || !(p[2] & 1) || !(p[4] & 1)) return false;
    const int64_t t = (static_cast<int64_t>((p[0] >> 1) & 7) << 30) | (static_cast<int64_t>(p[1]) << 22) |
                      (static_cast<int64_t>(p[2] >> 1) << 15) | (static_cast<int64_t>(p[3]) << 7) | (p[4] >> 1);
    *t27 = t * 300;
    return true;
}

struct Pes {
    int headerLength = 0;
    std::optional<int64_t> pts, dts;  // 27 MHz
};

// An MPEG-2 PES header at `p` (start code included) of `size` available bytes.
bool ReadPes(const uint8_t* p, size_t size, Pes* out, std::string* why) {
    if (size < 9 || (p[6] & 0xC0) != 0x80) {
        *why = "PES header without the '10' bits";
        return false;
    }
    const int flags = p[7] >> 6;
    const int dataLength = p[8];
    out->headerLength = 9 + dataLength;
    if (static_cast<size_t>(out->headerLength) > size) {
        *why = "PES header longer than its packet";
        return false;
    }
    if (flags == 1 || (flags == 2 && dataLength < 5) || (flags == 3 && dataLength < 10)) {
        *why = "PTS_DTS_flags and PES_header_data_length disagree";
        return false;
    }
    int64_t t = 0;
    if (flags & 2) {
        if (!TimeStamp(p + 9, flags == 3 ? 3 : 2, &t)) {
            *why = "malformed PTS";
            return false;
        }
        out->pts = t;
    }
    if (flags == 3) {
        if (!TimeStamp(p + 14, 1, &t)) {
            *why = "malformed DTS";
            return false;
        }
        out->dts = t;
        if (*out->dts > *out->pts) {
            *why = "DTS after PTS";
            return false;
        }
    }
    // The optional fields of 2.4.3.6 in their order (ESCR, ES_rate, DSM trick mode,
    // additional copy info, previous PES CRC, extension); stuffing bytes behind them must
    // be 0xFF.
    int at = 9 + (flags == 3 ? 10 : flags == 2 ? 5 : 0);
    const int optional = p[7];
    at += (optional & 0x20 ? 6 : 0) + (optional & 0x10 ? 3 : 0) + (optional & 0x08 ? 1 : 0) +
          (optional & 0x04 ? 1 : 0) + (optional & 0x02 ? 2 : 0);
    if ((optional & 0x01) && at < out->headerLength) {
        const int ext = p[at++];
        at += (ext & 0x80 ? 16 : 0);                                           // PES_private_data
        if ((ext & 0x40) && at < out->headerLength) at += 1 + p[at];           // pack_header_field
        at += (ext & 0x20 ? 2 : 0) + (ext & 0x10 ? 2 : 0);                     // sequence counter, P-STD buffer
        if ((ext & 0x01) && at < out->headerLength) at += 1 + (p[at] & 0x7F);  // PES_extension_field
    }
    if (at > out->headerLength) {
        *why = "PES optional fields longer than PES_header_data_length";
        return false;
    }
    for (int i = at; i < out->headerLength; ++i)
        if (p[i] != 0xFF) {
            *why = "PES stuffing byte not 0xFF";
            return false;
        }
    return true;
}

// P-STD / T-STD buffer of one elementary stream: bytes arrive at a time and leave at the
// decoding time of the access unit they belong to (the latest stamp at or before them).
struct Buffer {
    struct Piece {
        int64_t arrival, removal, bytes;
    };
    std::vector<Piece> pieces;
    std::optional<int64_t> removal;  // the current unit's decoding time
    int64_t bound = 0;               // bytes; 0 = unknown
    void Add(int64_t arrival, const Pes* pes, int64_t bytes) {
        if (pes && (pes->dts || pes->pts)) removal = pes->dts ? *pes->dts : *pes->pts;
        if (removal && bytes > 0) pieces.push_back({arrival, *removal, bytes});
    }
    // Largest occupancy; error when a byte arrives after it should have been decoded.
    std::string Check(int64_t* maxUse) const {
        for (const Piece& p : pieces)
            if (p.arrival > p.removal + kTick) {
                std::ostringstream s;
                s << "buffer underflow: bytes arrive " << (p.arrival - p.removal) / 27000.0
                  << " ms after their decoding time " << p.removal / 27000000.0 << " s";
                return s.str();
            }
        std::vector<std::pair<int64_t, int64_t>> events;  // (time, +/- bytes); removals first
        for (const Piece& p : pieces) {
            events.push_back({p.arrival, p.bytes});
            events.push_back({p.removal, -p.bytes});
        }
        std::sort(events.begin(), events.end());
        int64_t use = 0;
        for (const auto& e : events) {
            use += e.second;
            *maxUse = std::max(*maxUse, use);
            if (bound > 0 && use > bound) {
                std::ostringstream s;
                s << "buffer bound " << bound << " exceeded: " << use << " bytes";
                return s.str();
            }
        }
        return {};
    }
};

}  // namespace

StampSteps EvenPresentationSteps(const std::string& probeCsv, size_t minPackets) {
    StampSteps r;
    std::map<int, std::vector<int64_t>> times;
    std::istringstream lines(probeCsv);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t comma = line.find(',');
        if (comma == std::string::npos || comma + 1 >= line.size() || line.compare(comma + 1, 3, "N/A") == 0) continue;
        times[std::stoi(line.substr(0, comma))].push_back(std::stoll(line.substr(comma + 1)));
    }
    for (auto& [stream, t] : times) {
        if (t.size() < minPackets) continue;
        std::sort(t.begin(), t.end());
        int64_t step = 0;
        for (size_t k = 1; k < t.size(); ++k)
            if (step == 0 || t[k] - t[k - 1] < step) step = t[k] - t[k - 1];
        for (size_t k = 1; k < t.size() && r.error.empty(); ++k)
            if (step <= 0 || (t[k] - t[k - 1]) % step != 0) {
                std::ostringstream e;
                e << "stream " << stream << ": step " << t[k] - t[k - 1] << " at packet " << k << " is not a whole "
                  << "number of frames of " << step;
                r.error = e.str();
            }
        r.step[stream] = step;
        r.span[stream] = t.back() - t.front();
    }
    return r;
}

std::string FrameTimesFault(const std::string& probeCsv, const std::multiset<int64_t>& steps, double seconds) {
    const StampSteps found = EvenPresentationSteps(probeCsv, 100);
    if (!found.error.empty()) return found.error;
    std::multiset<int64_t> seen;
    for (const auto& [stream, step] : found.step) {
        seen.insert(step);
        // The last frame lasts one step too; within a video frame of the length.
        const double span = static_cast<double>(found.span.at(stream) + step);
        if (std::abs(span - seconds * 90000) > 3600) {
            std::ostringstream e;
            e << "stream " << stream << " spans " << span / 90000 << " s";
            return e.str();
        }
    }
    if (seen != steps) return "the streams' frame steps are not the inputs'";
    return {};
}

uint32_t ReferenceCrc32(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i)
        for (int b = 7; b >= 0; --b) {
            const uint32_t in = (data[i] >> b) & 1;
            const uint32_t top = crc >> 31;
            crc <<= 1;
            if (top ^ in) crc ^= 0x04C11DB7u;
        }
    return crc;
}

SystemsReport CheckProgramStream(const std::vector<uint8_t>& b, bool dvd) {
    SystemsReport r;
    std::map<int, Buffer> buffers;
    size_t pos = 0;
    std::optional<int64_t> scr, lastScr;
    int64_t muxRate = 0;
    size_t lastPackStart = 0, lastPackBytes = 0;
    bool systemHeader = false;
    auto fail = [&](const std::string& e) {
        r.error = e;
        return r;
    };
    while (pos < b.size()) {
        if (r.endCode) return fail(At("bytes after the end code", pos));
        if (pos + 4 > b.size() || b[pos] != 0 || b[pos + 1] != 0 || b[pos + 2] != 1)
            return fail(At("no start code", pos));
        const uint8_t id = b[pos + 3];
        if (id == 0xB9) {
            r.endCode = true;
            pos += 4;
            continue;
        }
        if (id == 0xBA) {
            if (pos + 14 > b.size()) return fail(At("pack header cut short", pos));
            const uint8_t* p = &b[pos];
            if ((p[4] & 0xC4) != 0x44 || !(p[6] & 4) || !(p[8] & 4) || !(p[9] & 1) || (p[12] & 3) != 3)
                return fail(At("pack header marker bits", pos));
            const int64_t base = (static_cast<int64_t>((p[4] >> 3) & 7) << 30) |
                                 (static_cast<int64_t>(p[4] & 3) << 28) | (static_cast<int64_t>(p[5]) << 20) |
                                 (static_cast<int64_t>(p[6] >> 3) << 15) | (static_cast<int64_t>(p[6] & 3) << 13) |
                                 (static_cast<int64_t>(p[7]) << 5) | (p[8] >> 3);
            const int64_t ext = ((p[8] & 3) << 7) | (p[9] >> 1);
            if (ext >= 300) return fail(At("SCR extension above 299", pos));
            const int64_t now = base * 300 + ext;
            if (lastScr) {
                if (now < *lastScr) return fail(At("SCR goes back", pos));
                // The previous pack, sent at its program_mux_rate, must have arrived.
                const int64_t needed = static_cast<int64_t>(lastPackBytes) * 27000000 / (muxRate * 50);
                if (now - *lastScr + kTick < needed) return fail(At("SCR faster than the mux rate", pos));
            }
            if (dvd) {
                if (pos % 2048 != 0) return fail(At("DVD pack off its sector", pos));
                if (r.packs > 0 && pos - lastPackStart != 2048) return fail(At("DVD pack not 2048 bytes", pos));
            }
            muxRate = (static_cast<int64_t>(p[10]) << 14) | (p[11] << 6) | (p[12] >> 2);
            if (muxRate == 0) return fail(At("program_mux_rate 0", pos));
            lastScr = scr = now;
            lastPackStart = pos;
            ++r.packs;
            pos += 14 + (p[13] & 7);
            lastPackBytes = 0;
            continue;
        }
        if (!scr) return fail(At("packet before the first pack header", pos));
        if (pos + 6 > b.size()) return fail(At("packet cut short", pos));
        const size_t length = (static_cast<size_t>(b[pos + 4]) << 8 | b[pos + 5]) + 6;
        if (pos + length > b.size()) return fail(At("packet longer than the stream", pos));
        const uint8_t* p = &b[pos];
        if (id == 0xBB) {
            systemHeader = true;
            if (!(p[6] & 0x80) || !(p[8] & 1) || !(p[10] & 0x20) || (length - 12) % 3 != 0)
                return fail(At("system header marker bits", pos));
            for (size_t i = 12; i + 3 <= length; i += 3) {
                if ((p[i + 1] & 0xC0) != 0xC0) return fail(At("system header stream entry", pos));
                const int64_t size = ((p[i + 1] & 0x1F) << 8) | p[i + 2];
                buffers[p[i]].bound = size * ((p[i + 1] & 0x20) ? 1024 : 128);
            }
        } else if (id == 0xBC) {
            if (ReferenceCrc32(p, length) != 0) return fail(At("program stream map CRC_32", pos));
        } else if (id == 0xBF) {
            // private_stream_2 (DVD navigation): no PES header to check.
        } else if (id == 0xBE) {
            for (size_t i = 6; i < length; ++i)
                if (p[i] != 0xFF) return fail(At("padding byte not 0xFF", pos));
        } else if (id == 0xBD || (id >= 0xC0 && id <= 0xEF)) {
            Pes pes;
            std::string why;
            if (!ReadPes(p, length, &pes, &why)) return fail(At(why.c_str(), pos));
            ++r.pesPackets[id];
            if (pes.pts) ++r.stamped[id];
            const std::optional<int64_t> due = pes.dts ? pes.dts : pes.pts;
            if (due && *due + kTick < *scr) {
                std::ostringstream s;
                s << "decoding time " << *due / 300 << " before the SCR " << *scr / 300 << " of its pack (stream "
                  << int{id} << ")";
                return fail(At(s.str().c_str(), pos));
            }
            buffers[id].Add(*scr, &pes, static_cast<int64_t>(length) - pes.headerLength);
        } else {
            return fail(At("unexpected stream id", pos));
        }
        lastPackBytes = pos + length - lastPackStart;
        pos += length;
    }
    if (dvd && r.packs > 0 && b.size() - lastPackStart != 2048) return fail("last DVD pack not 2048 bytes");
    if (!systemHeader) return fail("no system header");
    for (const auto& [id, buffer] : buffers) {
        const std::string e = buffer.Check(&r.maxBufferUse);
        if (!e.empty()) return fail("stream " + std::to_string(id) + ": " + e);
    }
    return r;
}

SystemsReport CheckTransportStream(const std::vector<uint8_t>& b) {
    SystemsReport r;
    auto fail = [&](const std::string& e) {
        r.error = e;
        return r;
    };
    if (b.empty() || b.size() % 188 != 0) return fail("size not a multiple of 188");
    const size_t count = b.size() / 188;
    // First pass: the PCR of every packet that carries one, to time every packet.
    std::vector<std::optional<int64_t>> pcrAt(count);
    int pcrPid = -1;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = &b[i * 188];
        if ((p[3] & 0x20) && p[4] >= 7 && (p[5] & 0x10)) {
            const int pid = ((p[1] & 0x1F) << 8) | p[2];
            if (pcrPid >= 0 && pid != pcrPid) return fail(At("PCR on two PIDs", i * 188));
            pcrPid = pid;
            const int64_t base =
                (static_cast<int64_t>(p[6]) << 25) | (p[7] << 17) | (p[8] << 9) | (p[9] << 1) | (p[10] >> 7);
            const int64_t ext = ((p[10] & 1) << 8) | p[11];
            if ((p[10] & 0x7E) != 0x7E || ext >= 300) return fail(At("PCR field", i * 188));
            pcrAt[i] = base * 300 + ext;
        }
    }
    // Packet times: linear between PCRs (2.4.2.2), the first PCR before it.
    std::vector<int64_t> timeAt(count, 0);
    std::optional<size_t> prev;
    for (size_t i = 0; i < count; ++i) {
        if (!pcrAt[i]) continue;
        if (prev) {
            const int64_t gap = *pcrAt[i] - *pcrAt[*prev];
            if (gap < 0) return fail(At("PCR goes back", i * 188));
            r.maxPcrGap = std::max(r.maxPcrGap, gap);
            for (size_t k = *prev; k < i; ++k)
                timeAt[k] = *pcrAt[*prev] + gap * static_cast<int64_t>(k - *prev) / static_cast<int64_t>(i - *prev);
        } else {
            for (size_t k = 0; k < i; ++k)
                timeAt[k] = *pcrAt[i];
        }
        prev = i;
    }
    if (!prev) return fail("no PCR");
    for (size_t k = *prev; k < count; ++k)
        timeAt[k] = *pcrAt[*prev];

    std::map<int, int> counters;
    std::map<int, std::vector<uint8_t>> sections;
    std::map<int, int64_t> lastTable;
    std::vector<int> pmtPids;
    std::map<int, Buffer> buffers;
    std::map<int, std::vector<uint8_t>> pesStart;  // PES header bytes gathered per PID
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = &b[i * 188];
        const size_t at = i * 188;
        if (p[0] != 0x47) return fail(At("sync byte", at));
        if (p[1] & 0x80) return fail(At("transport_error_indicator", at));
        const int pid = ((p[1] & 0x1F) << 8) | p[2];
        const bool start = (p[1] & 0x40) != 0;
        const int control = (p[3] >> 4) & 3;
        if (control == 0) return fail(At("adaptation_field_control 0", at));
        const bool payload = control & 1;
        size_t offset = 4;
        if (control & 2) {
            const int length = p[4];
            if ((payload && length > 182) || (!payload && length != 183))
                return fail(At("adaptation_field_length", at));
            offset = 5 + static_cast<size_t>(length);
        }
        const int cc = p[3] & 0x0F;
        if (pid == 0x1FFF) continue;
        ++r.packets;
        auto last = counters.find(pid);
        if (last != counters.end()) {
            const int expected = payload ? (last->second + 1) & 0x0F : last->second;
            if (cc != expected) return fail(At("continuity_counter", at));
        }
        counters[pid] = cc;
        if (!payload) continue;
        const uint8_t* data = p + offset;
        const size_t size = 188 - offset;
        const bool table = pid == 0 || std::find(pmtPids.begin(), pmtPids.end(), pid) != pmtPids.end();
        if (table) {
            std::vector<uint8_t>& s = sections[pid];
            if (start) {
                const size_t pointer = data[0];
                if (1 + pointer >= size) return fail(At("pointer_field", at));
                s.assign(data + 1 + pointer, data + size);
            } else {
                s.insert(s.end(), data, data + size);
            }
            if (s.size() >= 3) {
                const size_t length = ((s[1] & 0x0F) << 8 | s[2]) + 3;
                if (length > 1024) return fail(At("section_length", at));
                if (s.size() >= length) {
                    if (ReferenceCrc32(s.data(), length) != 0) return fail(At("section CRC_32", at));
                    if (pid == 0) {
                        if (s[0] != 0x00) return fail(At("PAT table_id", at));
                        pmtPids.clear();
                        for (size_t e = 8; e + 4 <= length - 4; e += 4)
                            if ((s[e] << 8 | s[e + 1]) != 0) pmtPids.push_back((s[e + 2] & 0x1F) << 8 | s[e + 3]);
                    } else if (s[0] != 0x02) {
                        return fail(At("PMT table_id", at));
                    }
                    auto seen = lastTable.find(pid);
                    if (seen != lastTable.end()) {
                        int64_t& gap = pid == 0 ? r.maxPatGap : r.maxPmtGap;
                        gap = std::max(gap, timeAt[i] - seen->second);
                    }
                    lastTable[pid] = timeAt[i];
                    s.clear();
                }
            }
            continue;
        }
        if (start) {
            if (size < 9 || data[0] != 0 || data[1] != 0 || data[2] != 1) return fail(At("PES start code", at));
            Pes pes;
            std::string why;
            if (!ReadPes(data, size, &pes, &why)) return fail(At(why.c_str(), at));
            ++r.pesPackets[pid];
            if (pes.pts) ++r.stamped[pid];
            buffers[pid].Add(timeAt[i], &pes, static_cast<int64_t>(size) - pes.headerLength);
        } else {
            buffers[pid].Add(timeAt[i], nullptr, static_cast<int64_t>(size));
        }
    }
    if (lastTable.find(0) == lastTable.end()) return fail("no PAT");
    for (auto& [pid, buffer] : buffers) {
        const std::string e = buffer.Check(&r.maxBufferUse);
        if (!e.empty()) return fail("PID " + std::to_string(pid) + ": " + e);
    }
    return r;
}

}  // namespace muxertest
