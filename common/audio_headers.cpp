#include "common/audio_headers.h"

namespace common {

bool ReadMpegAudioHeader(std::span<const uint8_t> h, MpegAudioFrameHeader* out) {
    // kbit/s by bit-rate index: ISO/IEC 11172-3 2.4.2.3 (MPEG-1 by layer), ISO/IEC 13818-3
    // 2.4.2.3 (low sampling frequencies: Layer I, then Layers II and III sharing a row).
    static constexpr int16_t kMpeg1Kbps[3][15] = {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    };
    static constexpr int16_t kLsfKbps[2][15] = {
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
    };
    static constexpr int32_t kMpeg1Rates[3] = {44100, 48000, 32000};  // halved LSF, quartered 2.5
    if (h.size() < 4 || h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return false;
    const int versionBits = (h[1] >> 3) & 3, layerBits = (h[1] >> 1) & 3;
    const int rateIndex = h[2] >> 4, sfIndex = (h[2] >> 2) & 3;
    if (versionBits == 1 || layerBits == 0 || rateIndex == 0 || rateIndex == 15 || sfIndex == 3) return false;
    MpegAudioFrameHeader r;
    r.version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 25;
    r.layer = 4 - layerBits;
    const bool lsf = r.version != 1;
    r.bitRate = (lsf ? kLsfKbps[r.layer == 1 ? 0 : 1][rateIndex] : kMpeg1Kbps[r.layer - 1][rateIndex]) * 1000;
    r.sampleRate = kMpeg1Rates[sfIndex] / (r.version == 1 ? 1 : r.version == 2 ? 2 : 4);
    r.protection = (h[1] & 1) == 0;
    r.padding = (h[2] >> 1) & 1;
    r.private_bit = h[2] & 1;
    r.mode = h[3] >> 6;
    r.mode_extension = (h[3] >> 4) & 3;
    r.copyright = (h[3] >> 3) & 1;
    r.original = (h[3] >> 2) & 1;
    r.emphasis = h[3] & 3;
    r.channels = r.mode == 3 ? 1 : 2;
    // Bytes per frame: samples / 8 x bit rate / sampling rate, in slots of 4 bytes for
    // Layer I; the padding bit adds one slot.
    if (r.layer == 1) {
        r.samples = 384;
        r.unpaddedBytes = 4 * (12 * r.bitRate / r.sampleRate);
        r.frameBytes = r.unpaddedBytes + (r.padding ? 4 : 0);
    } else {
        r.samples = (r.layer == 3 && lsf) ? 576 : 1152;
        r.unpaddedBytes = (r.samples / 8) * r.bitRate / r.sampleRate;
        r.frameBytes = r.unpaddedBytes + (r.padding ? 1 : 0);
    }
    *out = r;
    return true;
}

bool ReadAc3Header(std::span<const uint8_t> h, Ac3FrameHeader* out) {
    // ATSC A/52 5.4.1: syncword 0x0B77, crc1, fscod (2 bits) | frmsizecod (6 bits), then
    // bsi's bsid (5 bits).
    static constexpr int16_t kKbps[19] = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                          192, 224, 256, 320, 384, 448, 512, 576, 640};
    static constexpr int32_t kRates[3] = {48000, 44100, 32000};
    if (h.size() < kAc3HeaderBytes || h[0] != 0x0B || h[1] != 0x77) return false;
    Ac3FrameHeader r;
    r.fscod = h[4] >> 6;
    r.frmsizecod = h[4] & 0x3F;
    r.bsid = h[5] >> 3;
    if (r.fscod == 3 || r.frmsizecod > 37 || r.bsid > 10) return false;
    r.kbps = kKbps[r.frmsizecod >> 1];
    r.samples = 1536;
    r.sampleRate = kRates[r.fscod];
    // Table 5.18 in 16-bit words: 1536 samples at the bit rate; 44.1 kHz frames alternate
    // between the floor and one word more, chosen by the low bit of frmsizecod.
    int32_t words = r.kbps * 96000 / r.sampleRate;
    if (r.fscod == 1) words += r.frmsizecod & 1;
    r.frameBytes = 2 * words;
    *out = r;
    return true;
}

bool ReadAdtsHeader(std::span<const uint8_t> h, AdtsFrameHeader* out) {
    // ISO/IEC 13818-7 6.2: adts_fixed_header and adts_variable_header.
    static constexpr int32_t kRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                           22050, 16000, 12000, 11025, 8000,  7350};
    if (h.size() < kAdtsHeaderBytes || h[0] != 0xFF || (h[1] & 0xF6) != 0xF0) return false;
    AdtsFrameHeader r;
    r.protection = (h[1] & 1) == 0;
    r.headerBytes = r.protection ? 9 : 7;
    r.profile = h[2] >> 6;
    r.sampling_frequency_index = (h[2] >> 2) & 0x0F;
    r.channel_configuration = ((h[2] & 1) << 2) | (h[3] >> 6);
    if (r.sampling_frequency_index >= 13) return false;
    r.frameBytes = ((h[3] & 0x03) << 11) | (h[4] << 3) | (h[5] >> 5);
    if (r.frameBytes <= r.headerBytes) return false;
    r.sampleRate = kRates[r.sampling_frequency_index];
    r.samples = 1024 * ((h[6] & 0x03) + 1);
    *out = r;
    return true;
}

bool ReadAudioFrameFacts(AudioFormat format, std::span<const uint8_t> bytes, AudioFrameFacts* out) {
    switch (format) {
        case AudioFormat::Mpeg: {
            MpegAudioFrameHeader h;
            if (!ReadMpegAudioHeader(bytes, &h)) return false;
            *out = h;
            return true;
        }
        case AudioFormat::Ac3: {
            Ac3FrameHeader h;
            if (!ReadAc3Header(bytes, &h)) return false;
            *out = h;
            return true;
        }
        case AudioFormat::Adts: {
            AdtsFrameHeader h;
            if (!ReadAdtsHeader(bytes, &h)) return false;
            *out = h;
            return true;
        }
    }
    return false;
}

}  // namespace common
