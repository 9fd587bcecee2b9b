// The built-in profiles against a table transcribed here as text rows (slot, identifier,
// class name, Video Format Class, Group, Field Order, Attribute, NameID, DescID, the two
// further string ids, class block values), parsed by the test itself.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "app/profiles/builtin_profiles.h"
#include "app/profiles/profile_manager.h"
#include "app/profiles/tests/profile_test_support.h"
#include "tests/support/media_fixture.h"

namespace profiles {
namespace {

const char* const kRows[] = {
    "| 0 | 201 | VCD | 5 | 1 | 0 | 0x81 | 5038 | 5050 | 5022, 5061 | 1150000/0/0; q 0; 352x240; 29.97; P16; pre 2, "
    "resize 1, flip 0, sqi 3, interl 1, enc 1, app 0, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 1 | 202 | VCD | 5 | 1 | 0 | 0x81 | 5039 | 5051 | 5023, 5065 | 1150000/0/0; q 0; 352x288; 25; P13; pre 2, resize "
    "1, flip 0, sqi 3, interl 1, enc 1, app 0, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 2 | 203 | VCD | 5 | 0 | 0 | 0x81 | 5066 | 5047 | 5025, 5062 | 1150000/0/0; q 0; 352x240; 29.97; P16; pre 2, "
    "resize 1, flip 0, sqi 1, interl 1, enc 1, app 0, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 3 | 204 | VCD | 5 | 0 | 0 | 0x81 | 5036 | 5048 | 5026, 5063 | 1150000/0/0; q 0; 352x288; 25; P13; pre 2, resize "
    "1, flip 0, sqi 1, interl 1, enc 1, app 0, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 4 | 205 | VCD | 5 | 1 | 0 | 0x82 | 5079 | 5067 | 5022, 5061 | 1150000/0/0; q 0; 352x240; 29.97; P16; pre 0, "
    "resize 1, flip 0, sqi 3, interl 0, enc 1, app 2, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 5 | 206 | VCD | 5 | 1 | 0 | 0x82 | 5081 | 5068 | 5022, 5061 | 1150000/0/0; q 0; 352x240; 29.97; P16; pre 0, "
    "resize 1, flip 0, sqi 5, interl 0, enc 1, app 2, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 6 | 207 | VCD | 5 | 1 | 0 | 0x82 | 5080 | 5069 | 5022, 5061 | 1150000/0/0; q 0; 352x240; 29.97; P16; pre 0, "
    "resize 1, flip 0, sqi 6, interl 0, enc 1, app 2, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 7 | 208 | VCD | 5 | 1 | 0 | 0x82 | 5082 | 5073 | 5023, 5065 | 1150000/0/0; q 0; 352x288; 25; P13; pre 0, resize "
    "1, flip 0, sqi 3, interl 0, enc 1, app 2, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 8 | 209 | VCD | 5 | 1 | 0 | 0x82 | 5084 | 5074 | 5023, 5065 | 1150000/0/0; q 0; 352x288; 25; P13; pre 0, resize "
    "1, flip 0, sqi 5, interl 0, enc 1, app 2, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 9 | 210 | VCD | 5 | 1 | 0 | 0x82 | 5083 | 5075 | 5023, 5065 | 1150000/0/0; q 0; 352x288; 25; P13; pre 0, resize "
    "1, flip 0, sqi 6, interl 0, enc 1, app 2, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 10 | 1 | MPEG-1 | 3 | 0 | 0 | 0x81 | 5041 | 5016 | 5028, 5031 | 1150000/0/0; q 0; 320x240; 29.97; P16; pre 2, "
    "resize 1, flip 0, sqi 1, interl 1, enc 1, app 0, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 11 | 2 | MPEG-1 | 3 | 0 | 0 | 0x81 | 5042 | 5017 | 5029, 5087 | 2000000/0/0; q 0; 320x240; 29.97; P16; pre 2, "
    "resize 1, flip 0, sqi 1, interl 1, enc 1, app 0, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 12 | 3 | MPEG-1 | 3 | 0 | 0 | 0x81 | 5043 | 5018 | 5030, 5088 | 3000000/0/0; q 0; 320x240; 29.97; P16; pre 2, "
    "resize 1, flip 0, sqi 1, interl 1, enc 1, app 0, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 13 | 4 | MPEG-1 | 3 | 1 | 0 | 0x81 | 5044 | 5019 | 5103, 5089 | 1152000/0/0; q 0; 320x240; 29.97; P16; pre 2, "
    "resize 1, flip 0, sqi 3, interl 1, enc 1, app 0, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 14 | 5 | MPEG-1 | 3 | 1 | 0 | 0x81 | 5045 | 5020 | 5104, 5090 | 2000000/0/0; q 0; 320x240; 29.97; P16; pre 2, "
    "resize 1, flip 0, sqi 3, interl 1, enc 1, app 0, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 15 | 6 | MPEG-1 | 3 | 1 | 0 | 0x81 | 5046 | 5021 | 5105, 5091 | 3000000/0/0; q 0; 320x240; 29.97; P16; pre 2, "
    "resize 1, flip 0, sqi 3, interl 1, enc 1, app 0, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 16 | 7 | MPEG-1 | 3 | 1 | 0 | 0x82 | 5044 | 5019 | 5103, 5089 | 1152000/0/0; q 0; 320x240; 29.97; P16; pre 0, "
    "resize 1, flip 0, sqi 5, interl 0, enc 1, app 2, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 17 | 8 | MPEG-1 | 3 | 1 | 0 | 0x82 | 5045 | 5020 | 5104, 5090 | 2000000/0/0; q 0; 320x240; 29.97; P16; pre 0, "
    "resize 1, flip 0, sqi 5, interl 0, enc 1, app 2, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 18 | 9 | MPEG-1 | 3 | 1 | 0 | 0x82 | 5046 | 5021 | 5105, 5091 | 3000000/0/0; q 0; 320x240; 29.97; P16; pre 0, "
    "resize 1, flip 0, sqi 5, interl 0, enc 1, app 2, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 19 | 101 | MPEG-2 | 4 | 0 | 0 | 0x81 | 5111 | 5055 | 5123, 5092 | 4000000/0/0; q 0; 640x480; 29.97; P16; pre 2, "
    "resize 1, flip 0, sqi 1, interl 1, enc 2, app 0, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 20 | 102 | MPEG-2 | 4 | 0 | 0 | 0x81 | 5112 | 5056 | 5124, 5093 | 5000000/0/0; q 0; 640x480; 29.97; P16; pre 2, "
    "resize 1, flip 0, sqi 1, interl 1, enc 2, app 0, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 21 | 103 | MPEG-2 | 4 | 0 | 0 | 0x81 | 5113 | 5057 | 5125, 5094 | 6000000/0/0; q 0; 640x480; 29.97; P16; pre 2, "
    "resize 1, flip 0, sqi 1, interl 1, enc 2, app 0, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 22 | 104 | MPEG-2 | 4 | 1 | 0 | 0x81 | 5114 | 5058 | 5126, 5095 | 4000000/0/0; q 0; 640x480; 29.97; P16; pre 2, "
    "resize 1, flip 0, sqi 3, interl 1, enc 2, app 0, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 23 | 105 | MPEG-2 | 4 | 1 | 0 | 0x81 | 5115 | 5059 | 5127, 5096 | 5000000/0/0; q 0; 640x480; 29.97; P16; pre 2, "
    "resize 1, flip 0, sqi 3, interl 1, enc 2, app 0, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 24 | 106 | MPEG-2 | 4 | 1 | 0 | 0x81 | 5116 | 5060 | 5128, 5097 | 6000000/0/0; q 0; 640x480; 29.97; P16; pre 2, "
    "resize 1, flip 0, sqi 3, interl 1, enc 2, app 0, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 25 | 107 | MPEG-2 | 4 | 1 | 0 | 0x82 | 5114 | 5058 | 5126, 5095 | 4000000/0/0; q 0; 640x480; 29.97; P16; pre 0, "
    "resize 1, flip 0, sqi 5, interl 0, enc 2, app 2, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 26 | 108 | MPEG-2 | 4 | 1 | 0 | 0x82 | 5115 | 5059 | 5127, 5096 | 5000000/0/0; q 0; 640x480; 29.97; P16; pre 0, "
    "resize 1, flip 0, sqi 5, interl 0, enc 2, app 2, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 27 | 109 | MPEG-2 | 4 | 1 | 0 | 0x82 | 5116 | 5060 | 5128, 5097 | 6000000/0/0; q 0; 640x480; 29.97; P16; pre 0, "
    "resize 1, flip 0, sqi 5, interl 0, enc 2, app 2, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 28 | 401 | DVD | 7 | 1 | 1 | 0x81 | 5108 | 5052 | 5119, 5098 | 8000000/4000000/8300000; q 0; 720x480; 29.97; "
    "P16; pre 2, resize 1, flip 0, sqi 3, interl 1, enc 2, app 0, dgop 1; audio rate code 1, bit-rate code 2048 |",
    "| 29 | 402 | DVD | 7 | 1 | 1 | 0x81 | 5109 | 5053 | 5120, 5099 | 8000000/4000000/8300000; q 0; 720x576; 25; P13; "
    "pre 2, resize 1, flip 0, sqi 3, interl 1, enc 2, app 0, dgop 1; audio rate code 1, bit-rate code 2048 |",
    "| 30 | 403 | DVD | 7 | 0 | 1 | 0x81 | 5106 | 5117 | 5121, 5100 | 8000000/4000000/8300000; q 0; 720x480; 29.97; "
    "P16; pre 2, resize 1, flip 0, sqi 1, interl 1, enc 2, app 0, dgop 1; audio rate code 1, bit-rate code 2048 |",
    "| 31 | 404 | DVD | 7 | 0 | 1 | 0x81 | 5130 | 5129 | 5131, 5132 | 3400000/2000000/6800000; q 0; 704x480; 29.97; "
    "P16; pre 2, resize 4, flip 0, sqi 1, interl 1, enc 2, app 0, dgop 1; audio rate code 1, bit-rate code 2048 |",
    "| 32 | 405 | DVD | 7 | 0 | 1 | 0x81 | 5107 | 5118 | 5122, 5101 | 8000000/4000000/8300000; q 0; 720x576; 25; P13; "
    "pre 2, resize 1, flip 0, sqi 1, interl 1, enc 2, app 0, dgop 1; audio rate code 1, bit-rate code 2048 |",
    "| 33 | 406 | DVD | 7 | 0 | 1 | 0x81 | 5134 | 5133 | 5135, 5136 | 3400000/2000000/6800000; q 0; 704x576; 25; P13; "
    "pre 2, resize 4, flip 0, sqi 1, interl 1, enc 2, app 0, dgop 1; audio rate code 1, bit-rate code 2048 |",
    "| 34 | 407 | DVD | 7 | 1 | 0 | 0x82 | 5137 | 5070 | 5119, 5098 | 1750000/1500000/3500000; q 0; 352x240; 29.97; "
    "P16; pre 0, resize 1, flip 0, sqi 3, interl 0, enc 2, app 2, dgop 1; audio rate code 1, bit-rate code 2048 |",
    "| 35 | 408 | DVD | 7 | 1 | 1 | 0x82 | 5086 | 5071 | 5119, 5098 | 3400000/2000000/6800000; q 0; 704x480; 29.97; "
    "P16; pre 0, resize 4, flip 0, sqi 5, interl 0, enc 2, app 2, dgop 1; audio rate code 1, bit-rate code 2048 |",
    "| 36 | 409 | DVD | 7 | 1 | 1 | 0x82 | 5085 | 5072 | 5119, 5098 | 8000000/4000000/8300000; q 0; 720x480; 29.97; "
    "P16; pre 0, resize 1, flip 0, sqi 6, interl 0, enc 2, app 2, dgop 1; audio rate code 1, bit-rate code 2048 |",
    "| 37 | 410 | DVD | 7 | 1 | 0 | 0x82 | 5140 | 5076 | 5120, 5099 | 1750000/1500000/3500000; q 0; 352x288; 25; P13; "
    "pre 0, resize 1, flip 0, sqi 3, interl 0, enc 2, app 2, dgop 1; audio rate code 1, bit-rate code 2048 |",
    "| 38 | 411 | DVD | 7 | 1 | 1 | 0x82 | 5139 | 5077 | 5120, 5099 | 3400000/2000000/6800000; q 0; 704x576; 25; P13; "
    "pre 0, resize 4, flip 0, sqi 5, interl 0, enc 2, app 2, dgop 1; audio rate code 1, bit-rate code 2048 |",
    "| 39 | 412 | DVD | 7 | 1 | 1 | 0x82 | 5138 | 5078 | 5120, 5099 | 8000000/4000000/8300000; q 0; 720x576; 25; P13; "
    "pre 0, resize 1, flip 0, sqi 6, interl 0, enc 2, app 2, dgop 1; audio rate code 1, bit-rate code 2048 |",
    "| 40 | 301 | SVCD | 6 | 0 | 1 | 0x81 | 5149 | 5147 | 5151, 5153 | 2400000/0/0; q 0; 480x480; 29.97; P16; pre 2, "
    "resize 1, flip 0, sqi 1, interl 1, enc 2, app 0, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 41 | 302 | SVCD | 6 | 0 | 1 | 0x81 | 5150 | 5148 | 5152, 5154 | 2400000/0/0; q 0; 480x576; 25; P13; pre 2, "
    "resize 1, flip 0, sqi 1, interl 1, enc 2, app 0, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 42 | 303 | SVCD | 6 | 1 | 1 | 0x81 | 5170 | 5102 | 5172, 5174 | 2400000/0/0; q 0; 480x480; 29.97; P16; pre 2, "
    "resize 1, flip 0, sqi 3, interl 1, enc 2, app 0, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 43 | 304 | SVCD | 6 | 1 | 1 | 0x81 | 5171 | 5169 | 5173, 5175 | 2400000/0/0; q 0; 480x576; 25; P13; pre 2, "
    "resize 1, flip 0, sqi 3, interl 1, enc 2, app 0, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 44 | 305 | SVCD | 6 | 1 | 1 | 0x82 | 5143 | 5176 | 5172, 5174 | 2400000/0/0; q 0; 480x480; 29.97; P16; pre 0, "
    "resize 1, flip 0, sqi 3, interl 0, enc 2, app 2, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 45 | 306 | SVCD | 6 | 1 | 1 | 0x82 | 5142 | 5177 | 5172, 5174 | 2400000/0/0; q 0; 480x480; 29.97; P16; pre 0, "
    "resize 1, flip 0, sqi 5, interl 0, enc 2, app 2, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 46 | 307 | SVCD | 6 | 1 | 1 | 0x82 | 5141 | 5178 | 5172, 5174 | 2400000/0/0; q 0; 480x480; 29.97; P16; pre 0, "
    "resize 1, flip 0, sqi 6, interl 0, enc 2, app 2, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 47 | 308 | SVCD | 6 | 1 | 1 | 0x82 | 5146 | 5179 | 5173, 5175 | 2400000/0/0; q 0; 480x576; 25; P13; pre 0, "
    "resize 1, flip 0, sqi 3, interl 0, enc 2, app 2, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 48 | 309 | SVCD | 6 | 1 | 1 | 0x82 | 5145 | 5180 | 5173, 5175 | 2400000/0/0; q 0; 480x576; 25; P13; pre 0, "
    "resize 1, flip 0, sqi 5, interl 0, enc 2, app 2, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 49 | 310 | SVCD | 6 | 1 | 1 | 0x82 | 5144 | 5181 | 5173, 5175 | 2400000/0/0; q 0; 480x576; 25; P13; pre 0, "
    "resize 1, flip 0, sqi 6, interl 0, enc 2, app 2, dgop 1; audio rate code 2, bit-rate code 2048 |",
    "| 50 | 501 | MV | 4 | 3 | 0 | 0x81 | 5183 | 5182 | 5184, 5185 | 12000000/0/0; q 0; 720x480; 29.97; P13; pre 2, "
    "resize 1, flip 0, sqi 7, interl 1, enc 2, app 0, dgop 1; audio rate code 1, bit-rate code 4096 |",
    "| 51 | 1001 | H264 | 12 | 0 | 1 | 0x83 | 7132 | 7131 | 7133, 7134 | 720x480; 29.97; GOP 30; BFrames 1; RC 1; "
    "3000000/3000000; CBRq 10; ME 1; 64x64; subpel 2; part 0; dist 0; entropy 1; deblock 1; SBD 1 |",
    "| 52 | 1002 | H264 | 12 | 0 | 1 | 0x83 | 7136 | 7135 | 7137, 7138 | 720x480; 29.97; GOP 30; BFrames 1; RC 1; "
    "2000000/3000000; CBRq 10; ME 1; 64x64; subpel 2; part 0; dist 0; entropy 1; deblock 1; SBD 1 |",
    "| 53 | 1003 | H264 | 12 | 0 | 1 | 0x83 | 7140 | 7139 | 7141, 7142 | 720x480; 29.97; GOP 30; BFrames 1; RC 1; "
    "1000000/3000000; CBRq 10; ME 1; 64x64; subpel 2; part 0; dist 0; entropy 1; deblock 1; SBD 1 |",
    "| 54 | 901 | QuickTime | 10 | 1 | 0 | 0x82 | 5155 | 5158 | 5172, 5174 | 160x120; component 1; key frame 20; type "
    "0x72707A61; quality 0x200 |",
    "| 55 | 902 | QuickTime | 10 | 1 | 0 | 0x82 | 5156 | 5159 | 5173, 5175 | 320x240; component 2; key frame 10; type "
    "0x72707A61; quality 0x300 |",
    "| 56 | 903 | QuickTime | 10 | 1 | 0 | 0x82 | 5157 | 5160 | 5173, 5175 | 320x240; component 2; key frame 1; type "
    "0x72707A61; quality 0x400 |",
    "| 57 | 801 | Real | 9 | 1 | 0 | 0x82 | 5161 | 5167 | 5190, 5191 | 160x120; audio 3; quality 0; audience 0x1 |",
    "| 58 | 802 | Real | 9 | 1 | 0 | 0x82 | 5162 | 5168 | 5191, 5191 | 160x120; audio 3; quality 0; audience 0x2 |",
    "| 59 | 803 | Real | 9 | 1 | 0 | 0x82 | 5196 | 5186 | 5192, 5192 | 320x240; audio 3; quality 0; audience 0x4 |",
    "| 60 | 804 | Real | 9 | 1 | 0 | 0x82 | 5197 | 5186 | 5192, 5192 | 320x240; audio 3; quality 0; audience 0x8 |",
    "| 61 | 805 | Real | 9 | 1 | 0 | 0x82 | 5164 | 5187 | 5193, 5193 | 320x240; audio 3; quality 0; audience 0x10 |",
    "| 62 | 806 | Real | 9 | 1 | 0 | 0x82 | 5198 | 5188 | 5194, 5194 | 320x240; audio 3; quality 0; audience 0x20 |",
    "| 63 | 807 | Real | 9 | 1 | 0 | 0x82 | 5165 | 5188 | 5194, 5194 | 320x240; audio 3; quality 0; audience 0x40 |",
    "| 64 | 808 | Real | 9 | 1 | 0 | 0x82 | 5199 | 5189 | 5195, 5195 | 320x240; audio 3; quality 0; audience 0x80 |",
    "| 65 | 809 | Real | 9 | 1 | 0 | 0x82 | 5200 | 5189 | 5195, 5195 | 320x240; audio 3; quality 0; audience 0x100 |",
    "| 66 | 601 | AVI | 1 | 0 | 0 | 0x83 | 5004 | 5001 | 5028, 5031 | \"DivX\", \"MPEG Layer-3\"; key 15; 30 fps; "
    "quality 1; 230000 bit/s; 160x120; 24 bits |",
    "| 67 | 602 | AVI | 1 | 0 | 0 | 0x83 | 5005 | 5032 | 5028, 5031 | \"DivX\", \"MPEG Layer-3\"; key 15; 30 fps; "
    "quality 1; 230000 bit/s; 352x240; 24 bits |",
    "| 68 | 603 | AVI | 1 | 0 | 0 | 0x83 | 5006 | 5033 | 5028, 5031 | \"DivX\", \"MPEG Layer-3\"; key 15; 30 fps; "
    "quality 1; 460000 bit/s; 720x480; 24 bits |",
    "| 69 | 701 | DV | 2 | 0 | 2 | 0x82 | 5009 | 5034 | 5028, 5031 | 2001; 32000; 2; 1 |",
    "| 70 | 702 | DV | 2 | 0 | 2 | 0x82 | 5010 | 5035 | 5028, 5031 | 2001; 48000; 2; 1 |",
    "| 71 | 703 | DV | 2 | 0 | 2 | 0x82 | 5013 | 5034 | 5028, 5031 | 2001; 32000; 2; 2 |",
    "| 72 | 704 | DV | 2 | 0 | 2 | 0x82 | 5014 | 5035 | 5028, 5031 | 2001; 48000; 2; 2 |",
    "| 73 | 705 | DV | 2 | 0 | 2 | 0x82 | 5007 | 5002 | 5028, 5031 | 2000; 32000; 2; 1 |",
    "| 74 | 706 | DV | 2 | 0 | 2 | 0x82 | 5008 | 5003 | 5028, 5031 | 2000; 48000; 2; 1 |",
    "| 75 | 707 | DV | 2 | 0 | 2 | 0x82 | 5011 | 5002 | 5028, 5031 | 2000; 32000; 2; 2 |",
    "| 76 | 708 | DV | 2 | 0 | 2 | 0x82 | 5012 | 5003 | 5028, 5031 | 2000; 48000; 2; 2 |",
};

std::vector<std::string> Columns(const std::string& row) {
    std::vector<std::string> out;
    size_t pos = 1;
    while (pos < row.size()) {
        size_t bar = row.find('|', pos);
        std::string c = row.substr(pos, bar - pos);
        c.erase(0, c.find_first_not_of(' '));
        c.erase(c.find_last_not_of(' ') + 1);
        out.push_back(c);
        if (bar == std::string::npos) break;
        pos = bar + 1;
    }
    if (!out.empty() && out.back().empty()) out.pop_back();
    return out;
}

std::vector<long long> Numbers(const std::string& text) {
    std::vector<long long> out;
    std::regex number("0x[0-9A-Fa-f]+|[0-9]+(\\.[0-9]+)?");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), number); it != std::sregex_iterator(); ++it) {
        std::string s = it->str();
        out.push_back(s.rfind("0x", 0) == 0
                          ? std::stoll(s, nullptr, 16)
                          : std::llround(std::stod(s) * (s.find('.') != std::string::npos ? 100 : 1)));
    }
    return out;
}

const std::map<std::string, int> kSeries = {{"MPEG-1", 0}, {"MPEG-2", 1},    {"VCD", 2},  {"SVCD", 3},
                                            {"DVD", 4},    {"MV", 5},        {"AVI", 6},  {"DV", 7},
                                            {"Real", 8},   {"QuickTime", 9}, {"H264", 10}};

class BuiltinProfiles : public ::testing::Test {
protected:
    testing::FakeStrings strings;
    testing::TempAppFolder folder;
    CProfileManager store{strings, folder};
};

int32_t Param(const ProfileRecord& r, uint32_t id) {
    const MpegParam* p = FindMpegParam(r.block.mpeg, id);
    EXPECT_NE(p, nullptr) << std::hex << id;
    return p ? p->value.i : -1;
}

TEST_F(BuiltinProfiles, EverySlotMatchesTheTable) {
    ASSERT_EQ(std::size(kRows), 77u);
    ASSERT_EQ(store.SlotCount(), 77u);
    for (const char* row : kRows) {
        std::vector<std::string> c = Columns(row);
        ASSERT_EQ(c.size(), 11u) << row;
        const uint32_t slotIndex = std::stoul(c[0]);
        SCOPED_TRACE(row);
        const ProfileSlot& slot = store.Slot(slotIndex);
        EXPECT_EQ(slot.identifier, std::stoul(c[1]));
        EXPECT_STREQ(slot.head.className, c[2].c_str());
        EXPECT_EQ(slot.head.videoFormatClass, std::stoi(c[3]));
        EXPECT_EQ(slot.head.group, std::stoi(c[4]));
        EXPECT_EQ(slot.head.fieldOrder, std::stoul(c[5]));
        EXPECT_EQ(slot.head.attribute, std::stoul(c[6], nullptr, 16));
        EXPECT_EQ(slot.head.nameId, std::stoul(c[7]));
        EXPECT_EQ(slot.head.descId, std::stoul(c[8]));
        std::vector<long long> ids = Numbers(c[9]);
        EXPECT_EQ(slot.head.stringId3, ids.at(0));
        EXPECT_EQ(slot.head.stringId4, ids.at(1));
        EXPECT_EQ(slot.head.streamFlag, 3);

        // The record a lookup by name hands out carries the same values.
        ProfileRecord r{};
        r.head.attribute = slot.head.attribute & 3;  // the page mask picks among equal names
        ASSERT_EQ(
            store.ReadProfile(slot.head.videoFormatClass, 0, r, ("S" + std::to_string(slot.head.nameId)).c_str(), 0),
            kProfileOk);
        EXPECT_EQ(r.head.nameId, slot.head.nameId);
        EXPECT_EQ(r.head.stringId4, slot.head.stringId4);
        EXPECT_EQ(std::string(r.head.name), "S" + c[7]);
        EXPECT_EQ(std::string(r.head.description), "S" + c[8]);
        EXPECT_STREQ(r.head.outputFileName, "");

        const std::string& v = c[10];
        std::vector<long long> n = Numbers(v);
        const std::string cls = c[2];
        if (cls == "H264") {
            const H264Block& h = r.block.h264;
            const long long want[] = {h.width,
                                      h.height,
                                      std::llround(h.frameRate * 100),
                                      h.gopLength,
                                      h.bFrames,
                                      h.rateControlMode,
                                      h.videoBitRate,
                                      h.maxBitRate,
                                      h.cbrQuality,
                                      h.useMotionEstimation,
                                      h.searchWRange,
                                      h.searchHRange,
                                      h.subPixelAccuracy,
                                      h.enablePartition,
                                      h.distortionOpt,
                                      h.entropyCoding,
                                      h.deblock,
                                      h.sbdMode};
            EXPECT_EQ(n, std::vector<long long>(std::begin(want), std::end(want)));
            const ProfileAudioFormat& a = h.streams[0].audio;
            EXPECT_EQ(h.streamBlockCount, 1u);
            EXPECT_EQ(h.streams[0].type, 3u);
            EXPECT_EQ(a.samplesPerSecCode, 1);
            EXPECT_EQ(a.bitRate, 2048);
            EXPECT_EQ(a.encoderType * 10000 + a.audioMode * 1000 + a.channels * 100 + a.bitsPerSample * 10 + a.layer,
                      22212);
        } else if (cls == "QuickTime") {
            const QuickTimeBlock& q = r.block.quickTime;
            EXPECT_EQ(n, (std::vector<long long>{q.width, q.height, q.compressorComponent, q.keyFrameRate, q.videoType,
                                                 q.videoQuality}));
        } else if (cls == "Real") {
            const RealBlock& b = r.block.real;
            EXPECT_EQ(n, (std::vector<long long>{b.width, b.height, b.audioFormat, b.videoQuality, b.targetAudience}));
            for (const auto& t : b.texts)
                EXPECT_STREQ(t, "");
        } else if (cls == "AVI") {
            const AviBlock& a = r.block.avi;
            char expect[1400];
            std::snprintf(expect, sizeof expect,
                          "\"%s\", \"%s\"; key %u; %.0f fps; quality %.0f; %u bit/s; %dx%d; %d bits", a.videoCompressor,
                          a.audioCompressor, a.keyFrameRate, a.framesPerSecond, a.quality, a.bitRate, a.width, a.height,
                          a.colorBits);
            EXPECT_EQ(v, expect);
            EXPECT_EQ(a.hasWave, 1u);
            EXPECT_EQ(a.wave.formatTag, 85);
            EXPECT_EQ(a.wave.channels, 2);
            EXPECT_EQ(a.wave.samplesPerSec, 22050u);
            EXPECT_EQ(a.wave.avgBytesPerSec, 7000u);
            EXPECT_EQ(a.wave.blockAlign, 1);
            EXPECT_EQ(a.wave.bitsPerSample, 0);
            EXPECT_EQ(a.wave.cbSize, 0);
            EXPECT_EQ(a.compressorState, nullptr);
        } else if (cls == "DV") {
            const DvBlock& d = r.block.dv;
            EXPECT_EQ(n, (std::vector<long long>{d.videoFormat, d.audioFormat, d.channel, d.fileFormat}));
        } else {
            ASSERT_TRUE(IsMpegFormatClass(r.head.videoFormatClass));
            const MpegBlock& m = r.block.mpeg;
            EXPECT_EQ(m.paramCount, 17u);
            EXPECT_EQ(m.streamBlockCount, 1u);
            const MpegParam* rate = FindMpegParam(m, kParamFrameRate);
            const MpegParam* pattern = FindMpegParam(m, kParamPattern);
            const std::string patternName = std::strlen(pattern->value.text) == 16 ? "P16" : "P13";
            EXPECT_STREQ(pattern->value.text, patternName == "P16" ? "IBBPBBPBBPBBPBBP" : "IBBPBBPBBPBBP");
            char expect[400];
            std::snprintf(expect, sizeof expect,
                          "%d/%d/%d; q %d; %dx%d; %s; %s; pre %d, resize %d, flip %d, sqi %d, interl %d, enc %d, app "
                          "%d, dgop %d; audio rate code %d, bit-rate code %lld",
                          Param(r, 0xC107), Param(r, 0xC109), Param(r, 0xC108), Param(r, 0xC10E), Param(r, 0xC104),
                          Param(r, 0xC105),
                          rate->value.f == 25.0f    ? "25"
                          : rate->value.f == 29.97f ? "29.97"
                                                    : "?",
                          patternName.c_str(), Param(r, 0xC10A), Param(r, 0xC111), Param(r, 0xC110), Param(r, 0xC112),
                          Param(r, 0xC113), Param(r, 0xC101), Param(r, 0xC119), Param(r, 0xC11B),
                          m.streams[0].audio.samplesPerSecCode, static_cast<long long>(m.streams[0].audio.bitRate));
            EXPECT_EQ(v, expect);
            // The field-order code follows Field Order.
            EXPECT_EQ(Param(r, 0xC115), r.head.fieldOrder == 1 ? 6 : 0);
            const ProfileAudioFormat& a = m.streams[0].audio;
            EXPECT_EQ(m.streams[0].type, 3u);
            EXPECT_EQ(m.streams[0].size, 56u);
            EXPECT_EQ(a.encoderType * 10000 + a.audioMode * 1000 + a.channels * 100 + a.bitsPerSample * 10 + a.layer,
                      22212);
            EXPECT_EQ(a.misc, 0);
            EXPECT_EQ(a.samplesPerFrame, 0);
        }
    }
}

TEST_F(BuiltinProfiles, IdentifiersAreSeriesTimesHundredPlusOrdinal) {
    std::map<int, std::vector<uint32_t>> bySeries;
    for (uint32_t i = 0; i < store.SlotCount(); ++i) {
        const ProfileSlot& s = store.Slot(i);
        auto series = kSeries.find(s.head.className);
        ASSERT_NE(series, kSeries.end()) << s.head.className;
        EXPECT_EQ(s.identifier / 100, uint32_t(series->second)) << s.identifier;
        bySeries[series->second].push_back(s.identifier % 100);
    }
    // Within a series the ordinals run 1, 2, ... without gaps or repeats.
    const std::map<int, int> expectCount = {{0, 9}, {1, 9}, {2, 10}, {3, 10}, {4, 12}, {5, 1},
                                            {6, 3}, {7, 8}, {8, 9},  {9, 3},  {10, 3}};
    for (auto& [series, ordinals] : bySeries) {
        std::set<uint32_t> unique(ordinals.begin(), ordinals.end());
        ASSERT_EQ(unique.size(), ordinals.size()) << series;
        EXPECT_EQ(int(unique.size()), expectCount.at(series)) << series;
        EXPECT_EQ(*unique.begin(), 1u);
        EXPECT_EQ(*unique.rbegin(), unique.size());
    }
}

// The frame size and rate of what ffmpeg makes for a target.
struct Target {
    int width = 0, height = 0;
    double rate = 0;
};

Target ProbeTarget(const std::string& target) {
    std::string clip;
    EXPECT_TRUE(testsupport::MediaFixture(
        "ffmpeg -y -f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i sine=sample_rate=48000 "
        "-t 0.4 -target " +
            target + " {out}",
        "mpg", &clip));
    const std::string out = testsupport::UniqueName("probe") + ".txt";
    // The fixture's Linux path: the clip was made in the fixture folder.
    const std::string name = clip.substr(clip.find_last_of("/\\") + 1);
    EXPECT_EQ(testsupport::RunShell("ffprobe -v error -select_streams v:0 -show_entries "
                                    "stream=width,height,r_frame_rate -of csv=p=0 '" +
                                    name + "' > " + out),
              0);
    Target t;
    int num = 0, den = 1;
    std::string text = testsupport::ReadFixtureFile(out);
    EXPECT_EQ(std::sscanf(text.c_str(), "%d,%d,%d/%d", &t.width, &t.height, &num, &den), 4) << text;
    t.rate = den ? double(num) / den : 0;
    return t;
}

TEST_F(BuiltinProfiles, DiscFormatsAgreeWithFfmpegTargets) {
    std::map<std::string, Target> targets;
    for (const char* t : {"pal-vcd", "ntsc-vcd", "pal-svcd", "ntsc-svcd", "pal-dvd", "ntsc-dvd"}) {
        targets[t] = ProbeTarget(t);
    }
    const std::map<int32_t, std::string> kind = {{kClassVcd, "vcd"}, {kClassSvcd, "svcd"}, {kClassDvd, "dvd"}};
    int checked = 0;
    for (uint32_t i = 0; i < store.SlotCount(); ++i) {
        const ProfileSlot& s = store.Slot(i);
        auto k = kind.find(s.head.videoFormatClass);
        if (k == kind.end()) continue;
        ProfileRecord r{};
        r.head.attribute = s.head.attribute & 3;
        ASSERT_EQ(store.ReadProfile(s.head.videoFormatClass, 0, r, ("S" + std::to_string(s.head.nameId)).c_str(), 0),
                  kProfileOk);
        const float rate = FindMpegParam(r.block.mpeg, kParamFrameRate)->value.f;
        const int w = Param(r, kParamWidth), h = Param(r, kParamHeight);
        const Target& t = targets.at((rate == 25.0f ? "pal-" : "ntsc-") + k->second);
        SCOPED_TRACE(std::to_string(s.identifier));
        EXPECT_NEAR(rate, t.rate, 0.001);
        if (k->second == "dvd") {
            // Besides the full frame, DVD video allows 704 wide and the half-height 352 wide frame.
            const bool full = (w == t.width || w == 704) && h == t.height;
            const bool half = w == 352 && h * 2 == t.height;
            EXPECT_TRUE(full || half) << w << "x" << h;
        } else {
            EXPECT_EQ(w, t.width);
            EXPECT_EQ(h, t.height);
        }
        ++checked;
    }
    EXPECT_EQ(checked, 10 + 10 + 12);
}

}  // namespace
}  // namespace profiles
