#!/usr/bin/env python3
"""Writes profile_strings.rc: the names, descriptions and information texts of the built-in
encoding profiles, made from the built-in table (app/profiles/builtin_profiles.cpp) so that
each text describes its profile. Ids that resource_ids.h defines already are left out. Run
again after the table changes:
    app/resources/make_profile_strings.py > app/resources/profile_strings.rc"""
import os
import re
import sys

here = os.path.dirname(os.path.abspath(__file__))
table = re.sub(r"//[^\n]*", "", open(os.path.join(here, "..", "profiles", "builtin_profiles.cpp")).read())
defined = set(int(n) for n in re.findall(r"#define IDS_\w+ (\d+)", open(os.path.join(here, "resource_ids.h")).read()))

head = re.compile(r'\{\{(\d+), "([^"]+)", (\d+), (\d+), (\d+), (0x[0-9A-Fa-f]+), (\d+), (\d+), (\d+), (\d+)\}')
starts = [m for m in head.finditer(table)]
rows = []
for i, m in enumerate(starts):
    end = starts[i + 1].start() if i + 1 < len(starts) else len(table)
    body = table[m.end():end].split("};")[0]  # a table ends with "};"
    numbers = re.findall(r'"[^"]*"|0x[0-9A-Fa-f]+|\d+\.\d+f?|\d+|kP\d+', body)
    rows.append((m.groups(), numbers))

def fps(text):
    return "29.97" if text.startswith("29.97") else text.rstrip("f").rstrip("0").rstrip(".")

texts = {}
seen_names = {}
for (ident, cls, vfc, group, field, attr, name_id, desc_id, id3, id4), v in rows:
    kind = {"H264": "H.264"}.get(cls, cls)
    if vfc in ("3", "4", "5", "6", "7"):
        bit_rate, width, height, rate, sqi = int(v[0]), v[4], v[5], fps(v[6]), v[11]
        name = f"{kind} {width}x{height} {rate} fps {bit_rate // 1000} kbit/s"
        if (vfc, name) in seen_names:
            name += f" Q{sqi}"
        desc = (f"{kind} video of {width} x {height} pixels at {rate} frames per second and "
                f"{bit_rate // 1000} kbit/s, speed and quality setting {sqi}.")
    elif vfc == "12":
        width, height, rate, bit_rate = v[0], v[1], fps(v[2]), int(v[6])
        name = f"H.264 {width}x{height} {rate} fps {bit_rate // 1000} kbit/s"
        desc = f"H.264 video of {width} x {height} pixels at {rate} frames per second and {bit_rate // 1000} kbit/s."
    elif vfc == "1":
        width, height = v[-3], v[-2]
        name = f"AVI DivX {width}x{height}"
        desc = f"AVI file with DivX video of {width} x {height} pixels and MPEG Layer-3 audio."
    elif vfc == "2":
        dv_type, sample_rate, _, variant = v[0], int(v[1]), v[2], v[3]
        name = f"DV type {int(variant)} {sample_rate // 1000} kHz" + (" (2001)" if dv_type == "2001" else "")
        desc = f"DV file of type {variant} with {sample_rate // 1000} kHz audio."
    elif vfc == "10":
        width, height, quality = v[0], v[1], v[5]
        name = f"QuickTime {width}x{height} quality {int(quality, 16) >> 8}"
        desc = f"QuickTime movie of {width} x {height} pixels."
    elif vfc == "9":
        width, height, audience = v[0], v[1], v[4]
        name = f"Real {width}x{height} audience {int(audience, 16)}"
        desc = f"RealMedia file of {width} x {height} pixels for audience {int(audience, 16)}."
    else:
        name, desc = f"{kind} {ident}", f"{kind} profile {ident}."
    # Equal names within a class are allowed (the store takes the first in slot order).
    seen_names[(vfc, name)] = True
    for sid, text in ((name_id, name), (desc_id, desc),
                      (id3, f"{kind} output."), (id4, f"A built-in {kind} profile. " + desc)):
        sid = int(sid)
        if sid not in defined and sid not in texts:
            texts[sid] = text

out = sys.stdout
out.write("// Made by make_profile_strings.py from the built-in profile table; do not edit.\n")
out.write("STRINGTABLE\nBEGIN\n")
for sid in sorted(texts):
    out.write(f'    {sid} "{texts[sid]}"\n')
out.write("END\n")
