#!/usr/bin/env python3
"""Draws the default skin: both layout files and their art.

usage: make_skin.py OUTPUT_FOLDER

Writes OUTPUT_FOLDER/skin1024x768.xml and skin800x600.xml, and the art of each into
OUTPUT_FOLDER/1024x768 and OUTPUT_FOLDER/800x600. Every picture is stored losslessly (PNG,
or BMP for the .bmp names); names ending in .jpg hold PNG data, which the image holder
recognises by content. Key colours: magenta around control art, cyan around frame art.

One palette serves everything: a dark slate ground, lighter panels, a blue accent and
near-white text, so labels drawn by the application stay legible on every background.
"""
import os
import subprocess
import sys

INK = "#E8EEF5"        # text on dark ground
GROUND = "#1B2430"     # page ground
PANEL = "#263445"      # side panel
PANEL_EDGE = "#34475E"
FIELD = "#101820"      # value fields, LED windows
ACCENT = "#3C8DDE"
ACCENT_HOT = "#5AA6F0"
ACCENT_DOWN = "#2A6AAE"
MUTED = "#5B6877"      # disabled
LIST_GROUND = "#E4EAF1"  # list rows: the lists draw their texts in black on it
CHECKED = "#E0A030"    # a checked toggle's mark
MAGENTA = "#FF00FF"
CYAN = "#00FFFF"
FONT = "DejaVu-Sans"
FONT_BOLD = "DejaVu-Sans-Bold"


def convert(*args):
    subprocess.run(["convert", *args], check=True)


def png(path):
    # Force PNG data whatever the name says.
    return "PNG32:" + path


def out_name(folder, name):
    path = os.path.join(folder, name)
    if name.lower().endswith(".bmp"):
        return "BMP3:" + path
    return png(path)


def gradient(folder, name, width, height, top, bottom):
    convert("-size", f"{width}x{height}", f"gradient:{top}-{bottom}", out_name(folder, name))


def tile(folder, name, width, height, ground, line):
    convert("-size", f"{width}x{height}", f"xc:{ground}", "-fill", "none", "-stroke", line,
            "-draw", f"line 0,{height - 1} {width - 1},{height - 1}",
            "-draw", f"line {width - 1},0 {width - 1},{height - 1}", out_name(folder, name))


def button_strip(folder, name, width, height, caption, toggle, ground=MAGENTA):
    """Cells side by side: normal, hover, pressed, disabled (then the same four checked).

    Push buttons stand on the magenta key, which their window outline cuts away; radio
    buttons get no outline, so their art stands on the panel colour behind them."""
    faces = [(ACCENT, INK), (ACCENT_HOT, INK), (ACCENT_DOWN, INK), (MUTED, "#AEB7C2")]
    checked = [("#1E5F9E", INK), ("#2A72B8", INK), ("#184E84", INK), (MUTED, "#AEB7C2")]
    cells = faces + (checked if toggle else [])
    args = ["-size", f"{width * len(cells)}x{height}", f"xc:{ground}", "-font", FONT_BOLD,
            "-pointsize", str(max(9, height * 2 // 5)), "-gravity", "NorthWest"]
    for i, (face, ink) in enumerate(cells):
        x = i * width
        shift = 1 if i % 4 == 2 else 0
        # Hard edges: a blended edge pixel would be neither key nor face.
        # Every cell keeps the same outline (the button's window is cut from it); a pressed
        # cell shows its press by the caption moving down a pixel.
        args += ["+antialias", "-fill", face, "-stroke", PANEL_EDGE,
                 "-draw", f"roundrectangle {x + 1},1 {x + width - 2},{height - 2} 6,6", "-antialias"]
        if i >= 4:
            args += ["-fill", CHECKED, "-stroke", "none",
                     "-draw", f"rectangle {x + 8},{height // 2 - 3} {x + 13},{height // 2 + 2}"]
        args += ["-stroke", "none", "-fill", ink, "-annotate",
                 f"+{x + (width - len(caption) * height * 2 // 9) // 2}+{height // 2 - height // 5 + shift}",
                 caption]
    convert(*args, out_name(folder, name))


def led_strip(folder, name, cell_width, cell_height):
    """Three panels (disabled, highlighted, normal) of 13 glyphs: 0-9, point, colon, dash."""
    glyphs = "0123456789.:-"
    inks = ["#46505C", "#9FE8FF", "#56C8F0"]
    total = cell_width * 39
    # North gravity: each glyph is centred on its cell (a narrow colon or point included), so
    # a time code reads as one run of characters without gaps.
    args = ["-size", f"{total}x{cell_height}", f"xc:{FIELD}", "-font", FONT_BOLD,
            "-pointsize", str(cell_height - 3), "-gravity", "North"]
    for panel, ink in enumerate(inks):
        for i, glyph in enumerate(glyphs):
            centre = (panel * 13 + i) * cell_width + cell_width // 2
            args += ["-fill", ink, "-annotate", f"{centre - total // 2:+d}+0", glyph]
    convert(*args, out_name(folder, name))


def frame_piece(folder, name, width, height, corner=None, edge=None):
    """Frame art on a cyan key: a panel-coloured piece, corners rounded off to the key.

    Drawn without antialiasing: a blended edge pixel is neither key nor frame, and would stay
    as a cyan-tinted dot along the cut corner."""
    args = ["-size", f"{width}x{height}", f"xc:{CYAN}", "+antialias", "-fill", PANEL, "-stroke", PANEL_EDGE]
    if corner == "upleft":
        args += ["-draw", f"roundrectangle 0,0 {width + 10},{height + 10} 8,8"]
    elif corner == "upright":
        args += ["-draw", f"roundrectangle -10,0 {width - 1},{height + 10} 8,8"]
    elif corner == "downleft":
        args += ["-draw", f"roundrectangle 0,-10 {width + 10},{height - 1} 8,8"]
    elif corner == "downright":
        args += ["-draw", f"roundrectangle -10,-10 {width - 1},{height - 1} 8,8"]
    else:
        # Tiles repeat along the frame: flat, with the edge line only on the outer side, so
        # that no seam shows between two tiles.
        args += ["-stroke", "none", "-draw", f"rectangle 0,0 {width - 1},{height - 1}", "-stroke", PANEL_EDGE]
        outer = {"top": f"line 0,0 {width - 1},0", "left": f"line 0,0 0,{height - 1}",
                 "right": f"line {width - 1},0 {width - 1},{height - 1}",
                 "bottom": f"line 0,{height - 1} {width - 1},{height - 1}"}.get(edge)
        if outer:
            args += ["-draw", outer]
    convert(*args, out_name(folder, name))


def caption_button(folder, name, size, symbol):
    """Caption buttons: a four-cell strip on the frame's cyan key with a drawn symbol."""
    args = ["-size", f"{size * 4}x{size}", f"xc:{CYAN}", "+antialias"]
    for i, face in enumerate([PANEL_EDGE, ACCENT_HOT, ACCENT_DOWN, MUTED]):
        x = i * size
        args += ["-fill", face, "-stroke", "none", "-draw", f"roundrectangle {x + 1},1 {x + size - 2},{size - 2} 4,4",
                 "-stroke", INK, "-strokewidth", "2", "-fill", "none"]
        c = size // 2
        if symbol == "close":
            args += ["-draw", f"line {x + 5},5 {x + size - 6},{size - 6}", "-draw", f"line {x + size - 6},5 {x + 5},{size - 6}"]
        elif symbol == "minus":
            args += ["-draw", f"line {x + 5},{size - 6} {x + size - 6},{size - 6}"]
        elif symbol == "max":
            args += ["-draw", f"rectangle {x + 5},5 {x + size - 6},{size - 6}"]
        else:
            args += ["-draw", f"rectangle {x + 5},7 {x + size - 8},{size - 6}", "-draw", f"line {x + 8},4 {x + size - 5},4"]
        args += ["-strokewidth", "1"]
        del c
    convert(*args, out_name(folder, name))


def draw_art(folder, w, h, side):
    os.makedirs(folder, exist_ok=True)
    gradient(folder, "main_header.png", w, 48, "#2F4F78", GROUND)
    tile(folder, "main_side.png", side, 64, PANEL, PANEL_EDGE)
    tile(folder, "main_body.png", 64, 64, GROUND, "#212C3A")
    convert("-size", "200x22", f"xc:{FIELD}", "-fill", "none", "-stroke", PANEL_EDGE,
            "-draw", "rectangle 0,0 199,21", out_name(folder, "field.png"))
    button_strip(folder, "btn_profile.png", side - 32, 32, "Profile", False)
    button_strip(folder, "btn_mark.png", side - 32, 32, "Mark", False)
    button_strip(folder, "radio_file.png", side - 32, 36, "File", True, PANEL)
    button_strip(folder, "radio_dv.png", side - 32, 36, "DV", True, PANEL)
    button_strip(folder, "btn_volume.png", 32, 32, "V", True)
    led_strip(folder, "led_digits.png", 11, 17)
    for name, (top, bottom) in {"page_dv.png": ("#22354A", GROUND), "page_file.png": ("#2A3546", GROUND),
                                "page_export.png": ("#283040", GROUND)}.items():
        gradient(folder, name, 64, 64, top, bottom)
    # Spin, scroll and slider parts (state strips of four cells where a control draws states).
    convert("-size", "64x16", f"xc:{PANEL_EDGE}", "-fill", ACCENT, "-draw", "polygon 4,12 8,4 12,12",
            "-draw", "polygon 20,12 24,4 28,12", "-draw", "polygon 36,12 40,4 44,12", "-fill", MUTED,
            "-draw", "polygon 52,12 56,4 60,12", out_name(folder, "spin_up.png"))
    convert("-size", "64x16", f"xc:{PANEL_EDGE}", "-fill", ACCENT, "-draw", "polygon 4,4 8,12 12,4",
            "-draw", "polygon 20,4 24,12 28,4", "-draw", "polygon 36,4 40,12 44,4", "-fill", MUTED,
            "-draw", "polygon 52,4 56,12 60,4", out_name(folder, "spin_down.png"))
    convert("-size", "16x16", f"xc:{ACCENT}", out_name(folder, "thumb.png"))
    convert("-size", "64x16", f"xc:{FIELD}", out_name(folder, "track.png"))
    convert("-size", "64x16", f"xc:{ACCENT_DOWN}", out_name(folder, "track_sel.png"))
    convert("-size", "32x16", f"xc:{MAGENTA}", "-fill", ACCENT_HOT, "-draw", "polygon 0,0 15,0 8,15",
            "-draw", "polygon 16,0 31,0 24,15", out_name(folder, "marks.png"))
    convert("-size", "64x20", f"xc:{PANEL}", out_name(folder, "groupcap.png"))
    # Pictures loaded by fixed names.
    for name, corner, size, edge in [("GXT_UPLEFT.bmp", "upleft", (16, 28), None),
                                     ("GXT_UPRIGHT.bmp", "upright", (16, 28), None),
                                     ("GXT_DOWN_LEFT.bmp", "downleft", (16, 16), None),
                                     ("GXT_DOWN_RIGHT.bmp", "downright", (16, 16), None),
                                     ("GXT_LEFT_BG.bmp", None, (16, 16), "left"),
                                     ("GXT_RIGHT_BG.bmp", None, (16, 16), "right"),
                                     ("GXT_DOWN_BG.bmp", None, (16, 16), "bottom"),
                                     ("GXT_CAPTION.bmp", None, (64, 28), "top")]:
        frame_piece(folder, name, *size, corner=corner, edge=edge)
    for name, symbol in [("GXT_BT_CLOSE.bmp", "close"), ("GXT_BT_MINUS.bmp", "minus"), ("GXT_BT_MAX.bmp", "max"),
                         ("GXT_BT_RESTORE.bmp", "restore")]:
        caption_button(folder, name, 20, symbol)
    convert("-size", "400x240", "gradient:#2F4F78-#101820", "-font", FONT_BOLD, "-pointsize", "40", "-fill", INK,
            "-gravity", "center", "-annotate", "+0-20", "Vistrel", "-font", FONT, "-pointsize", "14",
            "-annotate", "+0+30", "capture and convert", out_name(folder, "VistrelSplash_NoAC3.BMP"))
    for name, size, ground in [("VolumeControl_bg.jpg", "40x140", PANEL), ("EncDVShuttle.jpg", "320x40", PANEL),
                               ("EncDVCheckBox.jpg", "64x16", PANEL_EDGE), ("EncBatchLCBK.jpg", "64x64", LIST_GROUND),
                               ("ExportRoomLCBk.JPG", "64x64", LIST_GROUND),
                               ("comboslider_top.jpg", "16x8", PANEL_EDGE), ("comboslider_down.jpg", "16x8", PANEL_EDGE),
                               ("timeline_scrol_bg_left.jpg", "8x16", PANEL_EDGE),
                               ("timeline_scrol_bg_right.jpg", "8x16", PANEL_EDGE)]:
        convert("-size", size, f"xc:{ground}", out_name(folder, name))
    convert("-size", "64x64", f"xc:{GROUND}", out_name(folder, "PostEncodingBK.bmp"))
    toolkit_art(folder)
    main_panel_art(folder, w)
    dv_page_art(folder, w)
    file_page_art(folder, w, h, side)


def arrow(direction, x, y, w, h):
    """A triangle pointing `direction` centred in the cell at (x, y) of w x h."""
    cx, cy = x + w // 2, y + h // 2
    rx, ry = max(2, w // 4), max(2, h // 4)
    return {"up": f"polygon {cx - rx},{cy + ry} {cx},{cy - ry} {cx + rx},{cy + ry}",
            "down": f"polygon {cx - rx},{cy - ry} {cx},{cy + ry} {cx + rx},{cy - ry}",
            "left": f"polygon {cx + ry},{cy - rx} {cx - ry},{cy} {cx + ry},{cy + rx}",
            "right": f"polygon {cx - ry},{cy - rx} {cx + ry},{cy} {cx - ry},{cy + rx}"}[direction]


def cells(folder, name, cell_w, cell_h, faces, ground=None, inset=0, vertical=False, glyph=None):
    """Cells side by side (or stacked), one solid face per state, optionally inset on a key,
    with an arrow `glyph` ("up", "down", "left", "right") on each face."""
    count = len(faces)
    w, h = (cell_w, cell_h * count) if vertical else (cell_w * count, cell_h)
    args = ["-size", f"{w}x{h}", f"xc:{ground or faces[0]}", "+antialias"]
    for i, face in enumerate(faces):
        x, y = (0, i * cell_h) if vertical else (i * cell_w, 0)
        args += ["-fill", face, "-stroke", "none",
                 "-draw", f"rectangle {x + inset},{y + inset} {x + cell_w - 1 - inset},{y + cell_h - 1 - inset}"]
        if glyph:
            args += ["-fill", INK if i != 3 else "#AEB7C2", "-draw", arrow(glyph, x, y, cell_w, cell_h)]
    convert(*args, out_name(folder, name))


# State faces of the second-half controls: normal, hover, pressed, disabled.
STATE_FACES = ["#3C8DDE", "#5AA6F0", "#2A6AAE", "#5B6877"]
THUMB_FACES = ["#E0A030", "#F0C060", "#A07020", "#808080"]


def toolkit_art(folder):
    """Art of the edits' spin buttons, the scroll bars, the sliders, the volume popup."""
    light = ["#7FB3E8", "#A0C8F0", "#5080B0", "#707A88"]
    cells(folder, "tk_spin_up.png", 16, 8, STATE_FACES, glyph="up")
    cells(folder, "tk_spin_down.png", 16, 8, light, glyph="down")
    cells(folder, "tk_sb_back.png", 16, 16, STATE_FACES, glyph="left")
    cells(folder, "tk_sb_fwd.png", 16, 16, light, glyph="right")
    cells(folder, "tk_vsb_back.png", 16, 16, STATE_FACES, glyph="up")
    cells(folder, "tk_vsb_fwd.png", 16, 16, light, glyph="down")
    cells(folder, "tk_sb_track.png", 16, 16, ["#101820", "#18222E", "#0C1218", "#2A2A2A"])
    cells(folder, "tk_sb_thumb.png", 48, 16, THUMB_FACES)
    cells(folder, "tk_vsb_thumb.png", 16, 48, THUMB_FACES)
    cells(folder, "tk_thumb.png", 12, 16, THUMB_FACES, ground=MAGENTA, inset=2)
    convert("-size", "16x12", f"xc:{MAGENTA}", "+antialias", "-fill", "#30D060", "-draw", "polygon 0,0 7,0 7,11",
            "-fill", "#D04060", "-draw", "polygon 8,0 15,0 8,11", out_name(folder, "tk_marks.png"))
    convert("-size", "30x8", "xc:#C05030", "+antialias", "-fill", "#40B0A0", "-draw", "rectangle 10,0 19,7",
            "-fill", "#C0A030", "-draw", "rectangle 20,0 29,7", out_name(folder, "tk_region.png"))
    convert("-size", "300x40", f"xc:{PANEL}", "-fill", PANEL_EDGE, "-draw", "rectangle 0,30 299,39",
            out_name(folder, "tk_slider_bg.png"))
    cells(folder, "tk_sel_left.png", 4, 10, ["#E8E040"])
    cells(folder, "tk_sel_right.png", 4, 10, ["#E8E040"])
    cells(folder, "tk_sel_band.png", 20, 2, ["#E8E040"])
    convert("-size", "60x8", "xc:#B0A020", "+antialias", "-fill", "#FFFFFF", "-draw", "rectangle 20,2 39,5",
            out_name(folder, "tk_grip.png"))
    # The volume popup's pictures, by their fixed names.
    cells(folder, "VolumeThumb.jpg", 20, 7, THUMB_FACES[:3], ground=MAGENTA, inset=1)
    convert("-size", "10x72", "gradient:#60F060-#208020", out_name(folder, "Volume_Max.jpg"))
    button_strip(folder, "VolumeBtn mute.jpg", 23, 18, "M", True)


def layout(w, h, side):
    """The layout file of a screen size: the page views and a gallery of every element kind."""
    body_w = w - side
    page_h = h - 48
    bw = side - 32
    lines = ['<?xml version="1.0" encoding="UTF-8"?>',
             "<!-- The default skin, drawn by make_skin.py. -->",
             '<APP ID="Vistrel" GRABCUROSR="grab.cur" GRABCLOSECURSOE="grabclose.cur">']
    lines += main_page_view(w, h, side)
    for view, art in [("ENC_DV_PAGE", "page_dv.png"), ("ENC_FILE_PAGE", "page_file.png"),
                      ("EXPORT_ROOM", "page_export.png")]:
        places = file_page_geometry(w)["places"]
        place = dv_page_place(w) if view == "ENC_DV_PAGE" else places.get(view, lambda bw, ph: (0, 0, bw, ph))
        left, top, width, height = place(body_w, page_h)
        lines.append(f'  <VIEW ID="{view}" LEFT="{side + left}" TOP="{48 + top}" WIDTH="{width}" HEIGHT="{height}">')
        lines.append(f'    <SUBVIEW ID="PAGE" LEFT="0" TOP="0" WIDTH="{width}" HEIGHT="{height}">')
        lines.append(f'      <BACKGROUNDIMAGE SOURCE="{art}" WIDTH="64" HEIGHT="64"/>')
        if view == "EXPORT_ROOM":
            lines += room_list_nodes(*file_page_geometry(w)["export_list"](width, height))
        lines.append("    </SUBVIEW>")
        if view == "ENC_DV_PAGE":
            lines += dv_page_layout(w, width, height)
        if view in places:
            lines += file_page_nodes(view, width, height, w)
        lines.append("  </VIEW>")
    lines += batch_list_view(w)
    lines += toolkit_views()
    lines += main_panel_views(w)
    lines += video_viewer_view()
    lines += batch_capture_view()
    # One description of every element kind, so that every reader path meets the shipped skin.
    lines += [
        '  <VIEW ID="SKIN_GALLERY" LEFT="0" TOP="0" WIDTH="400" HEIGHT="300" SNAPLEFT="4" VCUTCOUNT="1">',
        '    <BACKGROUNDIMAGE SOURCE="page_export.png"/>',
        '    <SUBVIEW ID="ALL" LEFT="0" TOP="0" WIDTH="400" HEIGHT="300" PERMANENT="TRUE" DRAWNUM="1">',
        '      <BACKGROUNDIMAGE SOURCE="main_body.png" WIDTH="64" HEIGHT="64"/>',
        '      <BUTTON ID="G_BUTTON" LEFT="8" TOP="8" WIDTH="32" HEIGHT="32" HCUT="0" VCUT="0">',
        '        <NORMALIMAGE SOURCE="btn_volume.png"/>',
        "      </BUTTON>",
        '      <SLIDER ID="G_SLIDER" LEFT="8" TOP="48" WIDTH="64" HEIGHT="16">',
        '        <BACKGROUNDIMAGE SOURCE="track.png"/><THUMBIMAGE SOURCE="thumb.png"/>',
        "      </SLIDER>",
        '      <STATIC ID="G_STATIC" LEFT="8" TOP="72" WIDTH="200" HEIGHT="22" TEXTALIGN="STATIC_TEXT_CENTER">',
        '        <BACKGROUNDIMAGE SOURCE="field.png" WIDTH="200" HEIGHT="22"/>',
        "      </STATIC>",
        '      <EDIT ID="G_LEDEDIT" LEFT="8" TOP="100" WIDTH="88" HEIGHT="17" TYPE="CGLEDEDIT">',
        '        <BACKGROUNDIMAGE SOURCE="field.png" WIDTH="88" HEIGHT="17"/><LEDNUMBERIMAGE SOURCE="led_digits.png"/>',
        "      </EDIT>",
        '      <EDIT ID="G_TIMEEDIT" LEFT="100" TOP="100" WIDTH="99" HEIGHT="17" TYPE="CGSIMPLETIMEEDIT">',
        '        <BACKGROUNDIMAGE SOURCE="field.png" WIDTH="99" HEIGHT="17"/><LEDNUMBERIMAGE SOURCE="led_digits.png"/>',
        "      </EDIT>",
        '      <COMBOBOX ID="G_COMBO" LEFT="8" TOP="124" WIDTH="120" HEIGHT="20" TYPE="CBS_DROPDOWNLIST" SORTDATA="FALSE">',
        '        <CBOLB LEFT="0" TOP="20" WIDTH="120" HEIGHT="80"/><CBOSBLSPIN LEFT="0" TOP="0" WIDTH="16" HEIGHT="16"/>',
        '        <CBOSBRSPIN LEFT="0" TOP="0" WIDTH="16" HEIGHT="16"/><CBOSBTHUMB WIDTH="16" HEIGHT="16"/>',
        '        <CBOSBBK WIDTH="16" HEIGHT="16"/><CBOEDIT WIDTH="100" HEIGHT="20"/><CBOBTN LEFT="100" WIDTH="20" HEIGHT="20"/>',
        '        <CBOSTATIC WIDTH="100" HEIGHT="20"/>',
        '        <SBLSPINNORMALIMAGE SOURCE="spin_up.png"/><SBRSPINNORMALIMAGE SOURCE="spin_down.png"/>',
        '        <SBTHUMBNORMALIMAGE SOURCE="thumb.png"/><SBBKNORMALIMAGE SOURCE="track.png"/>',
        '        <EDITNORMALIMAGE SOURCE="field.png"/><BTNNORMALIMAGE SOURCE="spin_down.png"/>',
        '        <STATICNORMALIMAGE SOURCE="field.png"/><LISTITEMIMAGE SOURCE="field.png"/>',
        "      </COMBOBOX>",
        '      <SPINTIMEEDIT ID="G_SPINTIME" LEFT="8" TOP="150" WIDTH="140" HEIGHT="17">',
        '        <SUBREGIONLSPIN LEFT="124" TOP="0" WIDTH="16" HEIGHT="8"/><SUBREGIONRSPIN LEFT="124" TOP="8" WIDTH="16" HEIGHT="8"/>',
        '        <BACKGROUNDIMAGE SOURCE="field.png" WIDTH="124" HEIGHT="17"/><LEDNUMBERIMAGE SOURCE="led_digits.png"/>',
        '        <INCNORMALIMAGE SOURCE="spin_up.png"/><DECNORMALIMAGE SOURCE="spin_down.png"/>',
        "      </SPINTIMEEDIT>",
    ]
    for kind in ["SCROLLBAR", "NEWSCROLLBAR"]:
        lines += [
            f'      <{kind} ID="G_{kind}" LEFT="8" TOP="172" WIDTH="160" HEIGHT="16" HORIZONTAL="TRUE">',
            '        <SUBREGIONLSPIN WIDTH="16" HEIGHT="16"/><SUBREGIONRSPIN LEFT="144" WIDTH="16" HEIGHT="16"/>',
            '        <SUBREGIONTHUMB WIDTH="16" HEIGHT="16"/><SUBREGIONSLIDERBK WIDTH="64" HEIGHT="16"/>',
            '        <LSPINNORMALIMAGE SOURCE="spin_up.png"/><RSPINNORMALIMAGE SOURCE="spin_down.png"/>',
            '        <THUMBNORMALIMAGE SOURCE="thumb.png"/><SLIDERBKNORMALIMAGE SOURCE="track.png"/>',
            f"      </{kind}>"]
    lines += [
        '      <SIMPLESLIDER ID="G_SIMPLESLIDER" LEFT="8" TOP="192" WIDTH="64" HEIGHT="16">',
        '        <THUMBRELATIVEPOS TOP="0" HEIGHT="16"/><SUBREGIONBK WIDTH="64" HEIGHT="16"/>',
        '        <SUBREGIONTHUMB WIDTH="4" HEIGHT="16"/><BACKGROUNDIMAGE SOURCE="track.png"/>',
        '        <THUMBNORMALIMAGE SOURCE="spin_up.png"/>',
        "      </SIMPLESLIDER>",
        '      <SELSLIDER ID="G_SELSLIDER" LEFT="8" TOP="212" WIDTH="64" HEIGHT="16">',
        '        <BACKGROUNDIMAGE SOURCE="track.png"/><SELIMAGE SOURCE="track_sel.png"/>',
        '        <LTHUMBIMAGE SOURCE="marks.png"/><RTHUMBIMAGE SOURCE="marks.png"/>',
        "      </SELSLIDER>",
    ]
    for kind, extra in [("SELECTSLIDER", ['<UPMAGNIFYIMAGE SOURCE="thumb.png"/><DOWNMAGNIFYIMAGE SOURCE="thumb.png"/>',
                                          '<LEFTMAGNIFYIMAGE SOURCE="thumb.png"/><RIGHTMAGNIFYIMAGE SOURCE="thumb.png"/>',
                                          '<HANDLEMAGNIFYIMAGE SOURCE="thumb.png"/>']),
                        ("MAGNIFYSLIDER", [])]:
        lines += [
            f'      <{kind} ID="G_{kind}" LEFT="80" TOP="192" WIDTH="200" HEIGHT="32" HCUT="0" VCUT="0">',
            '        <THUMBRELATIVEPOS TOP="16" HEIGHT="16"/><SELECTIONRELATIVEPOS TOP="4" HEIGHT="8"/>',
            '        <SUBREGIONLTHUMB WIDTH="16" HEIGHT="16"/><SUBREGIONRTHUMB LEFT="16" WIDTH="16" HEIGHT="16"/>',
            '        <SUBREGIONSELTHUMB WIDTH="16" HEIGHT="16"/>',
            '        <BACKGROUNDIMAGE SOURCE="track.png"/><LTHUMBIMAGE SOURCE="marks.png"/>',
            '        <RTHUMBIMAGE SOURCE="marks.png" LEFT="16"/><SELTHUMBIMAGE SOURCE="spin_up.png"/>']
        lines += ["        " + e for e in extra]
        lines += ['        <SLIDERSELIMAGE SOURCE="track_sel.png"/>', f"      </{kind}>"]
    lines += [
        '      <SPINBUTTON ID="G_SPIN" LEFT="300" TOP="8" WIDTH="16" HEIGHT="16" HORIZONTAL="FALSE">',
        '        <LSPINNORMALIMAGE SOURCE="spin_up.png"/><RSPINNORMALIMAGE SOURCE="spin_down.png"/>',
        "      </SPINBUTTON>",
        '      <PROGRESSBAR ID="G_PROGRESS" LEFT="8" TOP="236" WIDTH="64" HEIGHT="16">',
        '        <BACKGROUNDIMAGE SOURCE="track.png"/><FOREGROUNDIMAGE SOURCE="track_sel.png"/>',
        "      </PROGRESSBAR>",
        '      <LISTCTRL ID="G_LIST" LEFT="220" TOP="40" WIDTH="170" HEIGHT="140">',
        '        <BACKGROUNDIMAGE SOURCE="ExportRoomLCBk.JPG"/>',
        "      </LISTCTRL>",
        '      <LISTBOX ID="G_LISTBOX" LEFT="220" TOP="190" WIDTH="170" HEIGHT="60">',
        '        <BACKGROUNDIMAGE SOURCE="EncBatchLCBK.jpg"/>',
        "      </LISTBOX>",
        '      <DIRWHEEL ID="G_WHEEL" LEFT="300" TOP="260" WIDTH="32" HEIGHT="32">',
        '        <FOREGROUNDIMAGE SOURCE="thumb.png"/><BACKGROUNDIMAGE SOURCE="track.png"/>',
        "      </DIRWHEEL>",
        '      <GROUPBOX ID="G_GROUP" LEFT="8" TOP="256" WIDTH="200" HEIGHT="40">',
        '        <CAPTIONIMAGE SOURCE="groupcap.png"/>',
        "      </GROUPBOX>",
        '      <LIGHTANGLE ID="G_ANGLE" LEFT="340" TOP="260" WIDTH="8" HEIGHT="8">',
        '        <SUBREGIONFR WIDTH="8" HEIGHT="8"/><SUBREGIONBK WIDTH="8" HEIGHT="8"/>',
        '        <BACKGROUNDIMAGE SOURCE="track.png"/><FOREGROUNDIMAGE SOURCE="track_sel.png"/>',
        "      </LIGHTANGLE>",
        "    </SUBVIEW>",
        "  </VIEW>",
        "</APP>",
        ""]
    return "\n".join(lines)


def scroll_bar(name, left, top, horizontal, length):
    """A NEWSCROLLBAR of 16-pixel buttons and a track `length` long."""
    thumb = "tk_sb_thumb.png" if horizontal else "tk_vsb_thumb.png"
    back, fwd = ("tk_sb_back.png", "tk_sb_fwd.png") if horizontal else ("tk_vsb_back.png", "tk_vsb_fwd.png")
    thumb_size = 'WIDTH="192" HEIGHT="16"' if horizontal else 'WIDTH="64" HEIGHT="48"'
    region = f'WIDTH="{length}" HEIGHT="16"' if horizontal else f'WIDTH="16" HEIGHT="{length}"'
    extent = (length + 32, 16) if horizontal else (16, length + 32)
    return [
        f'      <NEWSCROLLBAR ID="{name}" LEFT="{left}" TOP="{top}" WIDTH="{extent[0]}" HEIGHT="{extent[1]}" '
        f'HORIZONTAL="{"TRUE" if horizontal else "FALSE"}">',
        '        <SUBREGIONLSPIN WIDTH="16" HEIGHT="16"/><SUBREGIONRSPIN WIDTH="16" HEIGHT="16"/>',
        f'        <SUBREGIONTHUMB {region}/><SUBREGIONSLIDERBK {region}/>',
        f'        <LSPINNORMALIMAGE SOURCE="{back}"/><RSPINNORMALIMAGE SOURCE="{fwd}"/>',
        f'        <THUMBNORMALIMAGE SOURCE="{thumb}" {thumb_size}/>',
        '        <SLIDERBKNORMALIMAGE SOURCE="tk_sb_track.png" WIDTH="64" HEIGHT="16"/>',
        "      </NEWSCROLLBAR>"]


def room_list_nodes(left, top, width, height):
    """The room list's list control place and its vertical scroll bar beside it."""
    return [f'      <STATIC ID="ROOMLIST" LEFT="{left}" TOP="{top}" WIDTH="{width}" HEIGHT="{height}"/>'] + \
        scroll_bar("ROOMSCROLLBAR", left + width, top, False, height - 32)


def slider(kind, name, left, top, extra):
    return [
        f'      <{kind} ID="{name}" LEFT="{left}" TOP="{top}" WIDTH="300" HEIGHT="40">',
        '        <THUMBRELATIVEPOS TOP="22" HEIGHT="16"/><SELECTIONRELATIVEPOS TOP="4" HEIGHT="8"/>',
        '        <SUBREGIONLTHUMB WIDTH="8" HEIGHT="12"/><SUBREGIONRTHUMB LEFT="8" WIDTH="8" HEIGHT="12"/>',
        '        <SUBREGIONSELTHUMB WIDTH="12" HEIGHT="16"/>',
        '        <BACKGROUNDIMAGE SOURCE="tk_slider_bg.png" WIDTH="300" HEIGHT="40"/>',
        '        <LTHUMBIMAGE SOURCE="tk_marks.png"/><RTHUMBIMAGE SOURCE="tk_marks.png" LEFT="8"/>',
        '        <SELTHUMBIMAGE SOURCE="tk_thumb.png"/>',
        '        <SLIDERSELIMAGE SOURCE="tk_region.png" WIDTH="30" HEIGHT="8"/>'] + \
        ["        " + e for e in extra] + [f"      </{kind}>"]


def toolkit_views():
    """A view holding one of each second-half control, laid out apart for screenshots."""
    led = '<LEDNUMBERIMAGE SOURCE="led_digits.png" WIDTH="429" HEIGHT="17"/>'
    lines = [
        '  <VIEW ID="TOOLKIT_GALLERY" LEFT="0" TOP="0" WIDTH="640" HEIGHT="400">',
        '    <SUBVIEW ID="ALL" LEFT="0" TOP="0" WIDTH="640" HEIGHT="400">',
        '      <EDIT ID="T_LED" LEFT="8" TOP="8" WIDTH="88" HEIGHT="17" TYPE="CGLEDEDIT">',
        f'        <BACKGROUNDIMAGE SOURCE="field.png" WIDTH="88" HEIGHT="17"/>{led}',
        "      </EDIT>",
        '      <EDIT ID="T_TIME" LEFT="120" TOP="8" WIDTH="88" HEIGHT="17" TYPE="CGSIMPLETIMEEDIT">',
        f'        <BACKGROUNDIMAGE SOURCE="field.png" WIDTH="88" HEIGHT="17"/>{led}',
        "      </EDIT>",
        '      <EDIT ID="T_PLAIN" LEFT="240" TOP="8" WIDTH="88" HEIGHT="17" TYPE="CGEDIT">',
        '        <BACKGROUNDIMAGE SOURCE="field.png" WIDTH="88" HEIGHT="17"/>',
        "      </EDIT>",
        '      <SPINTIMEEDIT ID="T_TIMECODE" LEFT="8" TOP="40" WIDTH="121" HEIGHT="17">',
        '        <SUBREGIONLSPIN LEFT="125" TOP="0" WIDTH="16" HEIGHT="8"/>',
        '        <SUBREGIONRSPIN LEFT="125" TOP="8" WIDTH="16" HEIGHT="8"/>',
        f'        <BACKGROUNDIMAGE SOURCE="field.png" WIDTH="121" HEIGHT="17"/>{led}',
        '        <INCNORMALIMAGE SOURCE="tk_spin_up.png"/><DECNORMALIMAGE SOURCE="tk_spin_down.png"/>',
        "      </SPINTIMEEDIT>"]
    lines += scroll_bar("T_HSCROLL", 8, 72, True, 200)
    lines += slider("MAGNIFYSLIDER", "T_MAGNIFY", 8, 100, [])
    lines += slider("SELECTSLIDER", "T_SELECT", 8, 160, [
        '<LEFTMAGNIFYIMAGE SOURCE="tk_sel_left.png" WIDTH="4" HEIGHT="10"/>',
        '<RIGHTMAGNIFYIMAGE SOURCE="tk_sel_right.png" WIDTH="4" HEIGHT="10"/>',
        '<UPMAGNIFYIMAGE SOURCE="tk_sel_band.png" WIDTH="20" HEIGHT="2"/>',
        '<DOWNMAGNIFYIMAGE SOURCE="tk_sel_band.png" WIDTH="20" HEIGHT="2"/>',
        '<HANDLEMAGNIFYIMAGE SOURCE="tk_grip.png" WIDTH="60" HEIGHT="8"/>'])
    lines += [
        '      <SIMPLESLIDER ID="T_REGION" LEFT="8" TOP="220" WIDTH="300" HEIGHT="24">',
        '        <THUMBRELATIVEPOS TOP="0" HEIGHT="24"/><SUBREGIONBK WIDTH="300" HEIGHT="24"/>',
        '        <SUBREGIONTHUMB WIDTH="4" HEIGHT="24"/>',
        '        <BACKGROUNDIMAGE SOURCE="tk_slider_bg.png"/><THUMBNORMALIMAGE SOURCE="tk_thumb.png"/>',
        "      </SIMPLESLIDER>"]
    lines += room_list_nodes(340, 8, 260, 200)
    lines += ["    </SUBVIEW>", "  </VIEW>"]
    return lines


def main_page_view(w, h, side):
    """The main encode page: the header, the side panel with the page and profile buttons, and
    the body with the profile summary. Texts the page draws in black ink (titles, values,
    space and file texts) stand on light art; the labels, drawn white, on the page itself."""
    body_w = w - side
    page_h = h - 48
    bw = side - 32
    lines = []
    lines.append(f'  <VIEW ID="ENC_MAIN_PAGE" LEFT="0" TOP="0" WIDTH="{w}" HEIGHT="{h}">')
    lines.append(f'    <SUBVIEW ID="HEADER" LEFT="0" TOP="0" WIDTH="{w}" HEIGHT="48">')
    lines.append(f'      <BACKGROUNDIMAGE SOURCE="main_header.png" WIDTH="{w}" HEIGHT="48"/>')
    lines.append("    </SUBVIEW>")
    lines.append(f'    <SUBVIEW ID="SIDE" LEFT="0" TOP="48" WIDTH="{side}" HEIGHT="{page_h}">')
    lines.append(f'      <BACKGROUNDIMAGE SOURCE="main_side.png" WIDTH="{side}" HEIGHT="64"/>')
    for i, (name, art) in enumerate([("IDC_BUTTON_FILE", "radio_file.png"), ("IDC_BUTTON_DV", "radio_dv.png")]):
        lines.append(f'      <BUTTON ID="{name}" LEFT="16" TOP="{64 + 44 * i}" WIDTH="{bw}" HEIGHT="36" TOGGLE="TRUE">')
        lines.append(f'        <NORMALIMAGE SOURCE="{art}"/>')
        lines.append("      </BUTTON>")
    for i, (name, art) in enumerate([("IDC_BUTTON_PROFILE", "btn_profile.png"), ("IDC_BUTTON_MARK", "btn_mark.png")]):
        lines.append(f'      <BUTTON ID="{name}" LEFT="16" TOP="{168 + 40 * i}" WIDTH="{bw}" HEIGHT="32">')
        lines.append(f'        <NORMALIMAGE SOURCE="{art}"/>')
        lines.append("      </BUTTON>")
    lines.append('      <BUTTON ID="IDC_BUTTON_VOLUME" LEFT="16" TOP="260" WIDTH="32" HEIGHT="32" TOGGLE="TRUE">')
    lines.append('        <NORMALIMAGE SOURCE="btn_volume.png"/>')
    lines.append("      </BUTTON>")
    lines.append("    </SUBVIEW>")
    lines.append(f'    <SUBVIEW ID="BODY" LEFT="{side}" TOP="48" WIDTH="{body_w}" HEIGHT="{page_h}">')
    lines.append('      <BACKGROUNDIMAGE SOURCE="main_body.png" WIDTH="64" HEIGHT="64"/>')
    s = summary_geometry(w)
    x_label, x_value = side + s["label_left"], side + s["value_left"]
    titles = [("IDC_STATIC_PROFILE_VIDEO", s["titles"][0]), ("IDC_STATIC_PROFILE_AUDIO", s["titles"][1])]
    for name, top in titles:
        lines.append(f'      <STATIC ID="{name}" LEFT="{x_label}" TOP="{top}" WIDTH="{s["title_width"]}" HEIGHT="20">')
        lines.append(f'        <BACKGROUNDIMAGE SOURCE="page_band.png" WIDTH="{s["title_width"]}" HEIGHT="20"/>')
        lines.append("      </STATIC>")
    rows = list(zip(["PATH", "TYPE", "BITRATE", "FRAMESIZE", "FRAMERATE", "CHANNEL", "SAMPLERATE", "CODEC"], s["rows"]))
    value_w = s["value_width"]
    for key, top in rows:
        lines.append(f'      <STATIC ID="IDC_STATIC_PROFILE_{key}" LEFT="{x_label}" TOP="{top}" '
                     f'WIDTH="{s["label_width"]}" HEIGHT="20" TEXTALIGN="STATIC_TEXT_RIGHT"/>')
        lines.append(f'      <STATIC ID="IDC_STATIC_PROFILE_VALUE_{key}" LEFT="{x_value}" TOP="{top - 1}" '
                     f'WIDTH="{value_w}" HEIGHT="22">')
        lines.append(f'        <BACKGROUNDIMAGE SOURCE="page_value.png" WIDTH="{value_w}" HEIGHT="22"/>')
        lines.append("      </STATIC>")
    bottom = h - 80
    space_left, space_w = s["space"](w, side)
    for i, name in enumerate(["IDC_STATIC_SPACE_AVAILABLE", "IDC_STATIC_SPACE_REQUIRED"]):
        lines.append(f'      <STATIC ID="{name}" LEFT="{space_left}" TOP="{bottom + 26 * i}" WIDTH="{space_w}" '
                     'HEIGHT="20" TEXTALIGN="STATIC_TEXT_RIGHT">')
        lines.append(f'        <BACKGROUNDIMAGE SOURCE="page_band.png" WIDTH="{space_w}" HEIGHT="20"/>')
        lines.append("      </STATIC>")
    # Both file texts share one place: the page shows one of them at a time.
    for name in ["IDC_STATIC_CAPTURE_FILES", "IDC_STATIC_CONVERT_FILES"]:
        lines.append(f'      <STATIC ID="{name}" LEFT="{x_label}" TOP="{bottom}" WIDTH="{s["files_width"]}" HEIGHT="20">')
        lines.append(f'        <BACKGROUNDIMAGE SOURCE="page_band.png" WIDTH="{s["files_width"]}" HEIGHT="20"/>')
        lines.append("      </STATIC>")
    lines.append("    </SUBVIEW>")
    lines.append("  </VIEW>")
    return lines


def summary_geometry(w):
    """Where the main page's profile summary stands (left offsets relative to the body): beside
    the file page at 1024x768; on 800x600 in a narrower, tighter column, so that the file page
    and the export room find room beside and below it."""
    if w >= 1024:
        return {"label_left": 24, "label_width": 160, "value_left": 200, "value_width": 200, "title_width": 300,
                "titles": (64, 280), "rows": (92, 120, 148, 176, 204, 308, 336, 364), "files_width": 300,
                "space": lambda w, side: (w - 340, 320)}
    return {"label_left": 8, "label_width": 96, "value_left": 108, "value_width": 164, "title_width": 264,
            "titles": (56, 204), "rows": (80, 104, 128, 152, 176, 228, 252, 276), "files_width": 264,
            "space": lambda w, side: (side + 284, w - side - 304)}


MENU_BAR_HEIGHT = 22


def main_panel_art(folder, w):
    """The main panel's menu bar: its ground and the face of the item under the mouse."""
    gradient(folder, "menu_bar.png", w, MENU_BAR_HEIGHT, "#34475E", PANEL)
    # The main page's text grounds.
    convert("-size", "320x20", "gradient:#C9D6E6-#AFC3DA", out_name(folder, "page_band.png"))
    value_w = summary_geometry(w)["value_width"]
    convert("-size", f"{value_w}x22", "xc:#DCE4EE", "-fill", "none", "-stroke", PANEL_EDGE,
            "-draw", f"rectangle -1,0 {value_w - 1},21", out_name(folder, "page_value.png"))
    convert("-size", f"48x{MENU_BAR_HEIGHT}", f"xc:{PANEL}", "+antialias", "-fill", ACCENT_DOWN, "-stroke", ACCENT,
            "-draw", f"roundrectangle 1,2 46,{MENU_BAR_HEIGHT - 3} 4,4", out_name(folder, "menu_hot.png"))


def main_panel_views(w):
    """The menu bar across the top of the main panel's client area."""
    return [
        f'  <VIEW ID="MENU_BAR" LEFT="0" TOP="0" WIDTH="{w}" HEIGHT="{MENU_BAR_HEIGHT}">',
        f'    <SUBVIEW ID="BAR" LEFT="0" TOP="0" WIDTH="{w}" HEIGHT="{MENU_BAR_HEIGHT}">',
        f'      <BACKGROUNDIMAGE SOURCE="menu_bar.png" WIDTH="{w}" HEIGHT="{MENU_BAR_HEIGHT}"/>',
        "    </SUBVIEW>",
        "  </VIEW>",
        f'  <VIEW ID="MENU_BAR_HOT" LEFT="0" TOP="0" WIDTH="48" HEIGHT="{MENU_BAR_HEIGHT}">',
        f'    <SUBVIEW ID="HOT" LEFT="0" TOP="0" WIDTH="48" HEIGHT="{MENU_BAR_HEIGHT}">',
        f'      <BACKGROUNDIMAGE SOURCE="menu_hot.png" WIDTH="48" HEIGHT="{MENU_BAR_HEIGHT}"/>',
        "    </SUBVIEW>",
        "  </VIEW>"]


# ---- The DV capture page ----
DV_SHUTTLE_STEPS = 32  # frames of the shuttle strip, one per step
DV_POST_ENCODING_GROUND = "#173A5E"  # the post-encoding band's ground


DV_COLUMN_WIDTH = {1024: 352, 800: 288}  # the controls' width inside the page's column


def dv_preview_size(w):
    """The preview: the column's width at 1024x768; at 800x600 a smaller picture with the
    page's four buttons beside it, so that the page fits under the summary's height."""
    return (352, 264) if w >= 1024 else (208, 156)


def dv_page_place(w):
    """The DV page takes the file page's column, so that the main page's profile summary, the
    export room and the space texts stay in view."""
    return file_page_geometry(w)["places"]["ENC_FILE_PAGE"]


def dv_transport_button_width(w):
    """Eight transport buttons side by side across the column, 4 pixels apart."""
    return (DV_COLUMN_WIDTH[1024 if w >= 1024 else 800] + 4) // 8 - 4


def dv_transport_art(name, w):
    """The DV page's art for a transport button: the 48-pixel art, or its narrow copy."""
    return name if dv_transport_button_width(w) == 48 else name.replace(".png", "_narrow.png")


def dv_page_art(folder, w):
    """The DV page's transport buttons, toggles, limit fields and the shuttle strip."""
    for name, caption, symbol in [("dv_play.png", "Play", "\u25B6"), ("dv_pause.png", "Pause", "\u25AE\u25AE"),
                                  ("dv_stop.png", "Stop", "\u25A0"), ("dv_rewind.png", "<<", "\u25C0\u25C0"),
                                  ("dv_wind.png", ">>", "\u25B6\u25B6"), ("dv_prev.png", "|<", "|\u25C0"),
                                  ("dv_next.png", ">|", "\u25B6|"), ("dv_record.png", "Rec", "\u25CF")]:
        # The batch dialog's transport row uses these at 48 pixels on both screens; the DV
        # page's narrower column buttons get art of their own, with the usual transport
        # symbols where the words would not fit.
        button_strip(folder, name, 48, 32, caption, True)
        if dv_transport_button_width(w) != 48:
            button_strip(folder, dv_transport_art(name, w), dv_transport_button_width(w), 32, symbol, True)
    for name, caption in [("dv_setup.png", "Device"), ("dv_batch.png", "Batch"), ("dv_seek.png", "Seek"),
                          ("dv_mb.png", "Help"), ("dv_mark.png", "Web")]:
        button_strip(folder, name, 72, 28, caption, True)
    button_strip(folder, "dv_check.png", 20, 20, "", True)
    for name, caption in [("dv_shuttle_left.png", "<"), ("dv_shuttle_right.png", ">")]:
        button_strip(folder, name, 24, 24, caption, True)
    convert("-size", "160x20", f"xc:{FIELD}", "-fill", "none", "-stroke", PANEL_EDGE,
            "-draw", "rectangle 0,0 159,19", out_name(folder, "dv_field.png"))
    convert("-size", "200x24", f"xc:{PANEL}", out_name(folder, "dv_progress_bg.png"))
    convert("-size", "200x24", f"xc:{ACCENT}", out_name(folder, "dv_progress_fill.png"))
    # The shuttle strip: one frame per step, a marker at the step's place; the last frame is idle.
    fw, fh = 240, 24
    args = ["-size", f"{fw * DV_SHUTTLE_STEPS}x{fh}", f"xc:{PANEL}", "+antialias"]
    for i in range(DV_SHUTTLE_STEPS):
        x0 = i * fw
        args += ["-fill", FIELD, "-draw", f"rectangle {x0 + 4},{fh // 2 - 2} {x0 + fw - 5},{fh // 2 + 1}",
                 "-fill", MUTED, "-draw", f"rectangle {x0 + fw // 2 - 1},2 {x0 + fw // 2},{fh - 3}"]
        if i < DV_SHUTTLE_STEPS - 1:
            step = i if i < 15 else i + 1
            mx = x0 + 8 + (fw - 16) * step // 31
            args += ["-fill", CHECKED, "-draw", f"rectangle {mx - 4},3 {mx + 4},{fh - 4}"]
    convert(*args, out_name(folder, "EncDVShuttle.jpg"))
    # Behind the post-encoding caption (both phases load it, by either spelling of its name):
    # the caption's place under the preview, a deep blue band with an accent rule beneath.
    pw, _ = dv_preview_size(w)
    convert("-size", f"{pw}x24", f"xc:{DV_POST_ENCODING_GROUND}", "-fill", ACCENT,
            "-draw", f"rectangle 0,22 {pw - 1},23", out_name(folder, "Capture PostEncodingBK.jpg"))


def dv_page_layout(w, body_w, page_h):
    """ENC_DV_PAGE's LAYOUT1 in the page's column: preview, post-encoding band, transport row,
    shuttle, then the time-code, limit and option blocks. At 800x600 the column is shorter:
    the four page buttons stand beside a smaller preview, the volume button beside the band,
    and the blocks are packed tighter. Places are relative to the page."""
    pw, ph = dv_preview_size(w)
    compact = w < 1024
    x, y = 16, 8 if compact else 16
    right = x
    cw = min(body_w - right - 16, 320)  # as wide as the labels' band art at most
    bw = dv_transport_button_width(w)
    lines = [f'    <SUBVIEW ID="LAYOUT1" LEFT="0" TOP="0" WIDTH="{body_w}" HEIGHT="{page_h}">',
             f'      <STATIC ID="BLUE_PREVIEW_BK" LEFT="{x}" TOP="{y}" WIDTH="{pw}" HEIGHT="{ph}"/>',
             f'      <STATIC ID="DRAW_POST_ENCODING" LEFT="{x}" TOP="{y + ph + 4}" WIDTH="{pw}" HEIGHT="24"/>']

    def button(name, left, top, width, height, art, toggle=True):
        return [f'      <BUTTON ID="{name}" LEFT="{left}" TOP="{top}" WIDTH="{width}" HEIGHT="{height}" '
                f'TOGGLE="{"TRUE" if toggle else "FALSE"}">', f'        <NORMALIMAGE SOURCE="{art}"/>',
                "      </BUTTON>"]

    def label(name, left, top, width, align="STATIC_TEXT_LEFT"):
        # Labels are drawn in black ink on the light band.
        return [f'      <STATIC ID="{name}" LEFT="{left}" TOP="{top}" WIDTH="{width}" HEIGHT="20" TEXTALIGN="{align}">',
                f'        <BACKGROUNDIMAGE SOURCE="page_band.png" WIDTH="{width}" HEIGHT="20"/>', "      </STATIC>"]

    ty = y + ph + 36
    for i, (name, art) in enumerate([("IDC_BUTTON_DV_REWIND", "dv_rewind.png"), ("IDC_BUTTON_DV_PLAY", "dv_play.png"),
                                     ("IDC_BUTTON_DV_PAUSE", "dv_pause.png"), ("IDC_BUTTON_DV_STOP", "dv_stop.png"),
                                     ("IDC_BUTTON_DV_FASTFORWORD", "dv_wind.png"),
                                     ("IDC_BUTTON_DV_PREVFRAME", "dv_prev.png"),
                                     ("IDC_BUTTON_DV_NEXTFRAME", "dv_next.png"),
                                     ("IDC_BUTTON_DV_RECORD", "dv_record.png")]):
        toggle = name not in ("IDC_BUTTON_DV_PREVFRAME", "IDC_BUTTON_DV_NEXTFRAME")
        lines += button(name, x + i * (bw + 4), ty, bw, 32, dv_transport_art(art, w), toggle)
    # The shuttle strip's art is 240 pixels a frame on both screens (the batch dialog shares
    # it); on the narrow column its buttons stand closer to it.
    sy = ty + (36 if compact else 40)
    gap = 4 if compact else 8
    lines += button("IDC_BUTTON_SHUTTLE_LEFT", x, sy, 24, 24, "dv_shuttle_left.png")
    lines.append(f'      <STATIC ID="IDC_SLIDER_SHUTTLE" LEFT="{x + 24 + gap}" TOP="{sy}" WIDTH="240" HEIGHT="24"/>')
    lines += button("IDC_BUTTON_SHUTTLE_RIGHT", x + 264 + 2 * gap, sy, 24, 24, "dv_shuttle_right.png")
    volume = (x + pw + 8, y + ph) if compact else (x + 320, sy - 4)
    lines += button("IDC_BUTTON_DV_VOL", *volume, 32, 32, "btn_volume.png")

    # The blocks follow each other tighter than the art's own spacing; on the small screen the
    # time-code caption and its edit share a row, as do the time code and the seek button.
    cy = sy + (30 if compact else 34)
    tc_step, limit_step, row = (56, 72, 24) if compact else (76, 80, 28)
    caption_w, edit_left, value_top = (136, right + 144, cy + 26) if compact else (cw, right, cy + 48)
    lines += label("IDC_STATIC_TIMECODE_CAPTION", right, cy, caption_w)
    edit_top = cy + 1 if compact else cy + 24
    lines += [f'      <SPINTIMEEDIT ID="IDC_EDIT_DV_TIMECODE" LEFT="{edit_left}" TOP="{edit_top}" WIDTH="121" HEIGHT="17">',
              '        <SUBREGIONLSPIN LEFT="125" TOP="0" WIDTH="16" HEIGHT="8"/>',
              '        <SUBREGIONRSPIN LEFT="125" TOP="8" WIDTH="16" HEIGHT="8"/>',
              '        <BACKGROUNDIMAGE SOURCE="field.png" WIDTH="121" HEIGHT="17"/>'
              '<LEDNUMBERIMAGE SOURCE="led_digits.png" WIDTH="429" HEIGHT="17"/>',
              '        <INCNORMALIMAGE SOURCE="tk_spin_up.png"/><DECNORMALIMAGE SOURCE="tk_spin_down.png"/>',
              "      </SPINTIMEEDIT>"]
    seek = (right + 216, cy + 24) if compact else (right + 150, cy + 20)
    lines += button("IDC_BUTTON_DV_SEEK", *seek, 72, 28, "dv_seek.png", False)
    lines += label("IDC_STATIC_TIMECODE", right, value_top, 200 if compact else cw)
    cy += tc_step
    lines += label("IDC_STATIC_DV_LIMIT_OPTION", right, cy, cw)
    lines += button("IDC_CHK_CAP_TIME_LIMIT", right, cy + row - 2, 20, 20, "dv_check.png")
    lines += label("IDC_STATIC_DV_TIME_LIMIT", right + 26, cy + row - 2, 70)
    lines += [f'      <EDIT ID="IDC_EDIT_CAP_TIME_LIMIT" LEFT="{right + 100}" TOP="{cy + row}" WIDTH="88" HEIGHT="17" '
              'TYPE="CGSIMPLETIMEEDIT">',
              '        <BACKGROUNDIMAGE SOURCE="field.png" WIDTH="88" HEIGHT="17"/>'
              '<LEDNUMBERIMAGE SOURCE="led_digits.png" WIDTH="429" HEIGHT="17"/>',
              "      </EDIT>"]
    lines += button("IDC_CHK_CAP_SIZE_LIMIT", right, cy + 2 * row - 2, 20, 20, "dv_check.png")
    lines += label("IDC_STATIC_DV_SIZE_LIMIT", right + 26, cy + 2 * row - 2, 70)
    lines += [f'      <EDIT ID="IDC_EDIT_CAP_SIZE_LIMIT" LEFT="{right + 100}" TOP="{cy + 2 * row}" WIDTH="121" '
              'HEIGHT="17" TYPE="CGLEDEDIT">',
              '        <BACKGROUNDIMAGE SOURCE="field.png" WIDTH="121" HEIGHT="17"/>'
              '<LEDNUMBERIMAGE SOURCE="led_digits.png" WIDTH="429" HEIGHT="17"/>',
              "      </EDIT>"]
    cy += limit_step
    lines += button("IDC_CHK_DV_NONREALTIME", right, cy, 20, 20, "dv_check.png")
    lines += label("IDC_STATIC_NONREALTIME", right + 26, cy, cw - 26)
    lines += [f'      <SIMPLESLIDER ID="IDC_SLIDER_NONREALTIME" LEFT="{right}" TOP="{cy + 26}" WIDTH="200" HEIGHT="24">',
              '        <THUMBRELATIVEPOS TOP="0" HEIGHT="24"/><SUBREGIONBK WIDTH="200" HEIGHT="24"/>',
              '        <SUBREGIONTHUMB WIDTH="4" HEIGHT="24"/>',
              '        <BACKGROUNDIMAGE SOURCE="dv_progress_bg.png"/><THUMBNORMALIMAGE SOURCE="dv_progress_fill.png"/>',
              "      </SIMPLESLIDER>"]
    cy += 56
    for i, (name, art) in enumerate([("IDC_BUTTON_DV_SETUP", "dv_setup.png"), ("IDC_BUTTON_DV_BATCH", "dv_batch.png"),
                                     ("IDC_BUTTON_DV_MB", "dv_mb.png"), ("IDC_BUTTON_DV_CORVANE_MARK", "dv_mark.png")]):
        place = (x + pw + 8, y + i * ((ph - 28) // 3)) if compact else (right + i * 80, cy)
        lines += button(name, *place, 72, 28, art, False)
    lines.append("    </SUBVIEW>")
    return lines


# ---- The file conversion page, its batch list and the export room ----
# At 1024x768 the main page's profile summary keeps the body's upper left (400 pixels wide,
# 400 high) and its space and file texts the bottom 88 pixels: the file page takes the column
# right of the summary, the export room the place below it. At 800x600 the summary is a
# column 280 pixels wide and 300 high, the file page a tighter column of 320 beside it.
FILE_PAGE_BUTTON_FACES = [  # name, art, caption (None: the shared volume art)
    ("IDC_BUTTON_FILE_PLAY", "fp_play.png", "Play"), ("IDC_BUTTON_FILE_PAUSE", "fp_pause.png", "Pause"),
    ("IDC_BUTTON_FILE_STOP", "fp_stop.png", "Stop"), ("IDC_BUTTON_FILE_FASTFORWARD", "fp_ff.png", ">>"),
    ("IDC_BUTTON_FILE_PREVFRAME", "fp_prev.png", "<|"), ("IDC_BUTTON_FILE_NEXTFRAME", "fp_next.png", "|>"),
    ("IDC_BUTTON_FILE_VOL", "btn_volume.png", None), ("IDC_BUTTON_FILE_CORVANE_MARK", "fp_mark.png", "Mark"),
    ("IDC_BUTTON_FILE_ADD", "fp_add.png", "Add"), ("IDC_BUTTON_FILE_DELETE", "fp_delete.png", "Delete"),
    ("IDC_BUTTON_FILE_UP", "fp_up.png", "Up"), ("IDC_BUTTON_FILE_DOWN", "fp_down.png", "Down"),
    ("IDC_BUTTON_FILE_CONVERT_START", "fp_start.png", "Convert"),
    ("IDC_BUTTON_FILE_CONVERT_ABORT", "fp_abort.png", "Abort"),
]


EXPORT_TITLE_HEIGHT = 24  # the export room's title band
EXPORT_MARGIN = 6  # the frame around the export room's list


def export_list_place(width, height):
    """The export room's list: below the title band, inside the frame, with its scroll bar
    (16 pixels) at its right; at least EXPORT_MARGIN to the room's right edge. A width of
    whole item cells (120) plus a few pixels, so that the cells spread evenly."""
    left, top = EXPORT_MARGIN, EXPORT_TITLE_HEIGHT + 2
    cells = (width - left - 16 - EXPORT_MARGIN) // 120
    return (left, top, cells * 120 + 3 * cells, height - top - EXPORT_MARGIN)


def file_page_geometry(w):
    """Places of the file page, its controls, its batch list and the export room (page-local
    unless said otherwise) for a screen width."""
    if w >= 1024:
        return {
            "places": {"ENC_FILE_PAGE": lambda body_w, page_h: (400, 0, body_w - 400, page_h - 88),
                       "EXPORT_ROOM": lambda body_w, page_h: (0, 400, 400, page_h - 400 - 100)},
            "buttons": [face + place for face, place in zip(FILE_PAGE_BUTTON_FACES, [  # left, top, width, height
                (16, 288, 44, 28), (16, 288, 44, 28), (64, 288, 44, 28), (112, 288, 44, 28), (160, 288, 44, 28),
                (208, 288, 44, 28), (256, 286, 32, 32), (292, 288, 60, 28), (16, 584, 64, 30), (84, 584, 64, 30),
                (152, 584, 52, 30), (208, 584, 52, 30), (268, 584, 100, 30), (268, 584, 100, 30)])],
            # The percentage above the list, at the right, where it stays inside the page.
            "statics": [("IDC_STATIC_BATCH_LIST", 16, 330, 248), ("IDC_STATIC_BATCH_SPEED", 16, 22, 60),
                        ("IDC_STATIC_FINISH_RATE", 268, 330, 100)],
            "screen": (16, 16, 352, 198),
            "slider": (16, 216),
            "time_edit": (227, 262),
            "batch_room": (16, 354, 352, 220),
            "export_list": export_list_place,
        }
    return {
        "places": {"ENC_FILE_PAGE": lambda body_w, page_h: (280, 0, body_w - 280, page_h - 88),
                   "EXPORT_ROOM": lambda body_w, page_h: (0, 264, 280, page_h - 264 - 88)},
        "buttons": [face + place for face, place in zip(FILE_PAGE_BUTTON_FACES, [
            (16, 238, 36, 26), (16, 238, 36, 26), (56, 238, 36, 26), (96, 238, 36, 26), (136, 238, 36, 26),
            (176, 238, 36, 26), (216, 235, 32, 32), (252, 238, 52, 26), (16, 420, 52, 26), (72, 420, 56, 26),
            (132, 420, 40, 26), (176, 420, 48, 26), (228, 420, 76, 26), (228, 420, 76, 26)])],
        "statics": [("IDC_STATIC_BATCH_LIST", 16, 272, 180), ("IDC_STATIC_BATCH_SPEED", 16, 14, 60),
                    ("IDC_STATIC_FINISH_RATE", 204, 272, 100)],
        "screen": (16, 8, 288, 162),
        "slider": (10, 172),
        "time_edit": (163, 214),
        "batch_room": (16, 296, 288, 116),
        "export_list": export_list_place,
    }


def export_room_art(folder, w, h, side):
    """The export room's ground: a panel in the page's colours, its title band, and a sunken
    frame around the list and its scroll bar."""
    _, _, width, height = file_page_geometry(w)["places"]["EXPORT_ROOM"](w - side, h - 48)
    left, top, list_w, list_h = export_list_place(width, height)
    x0, y0, x1, y1 = left - 2, top - 2, left + list_w + 16 + 1, top + list_h + 1
    convert("-size", f"{width}x{height}", "gradient:#2A3546-#1E2835",
            "-fill", "#34475E", "-draw", f"rectangle 0,0 {width - 1},{EXPORT_TITLE_HEIGHT - 1}",
            "-fill", ACCENT, "-draw", f"rectangle 0,{EXPORT_TITLE_HEIGHT - 2} {width - 1},{EXPORT_TITLE_HEIGHT - 2}",
            "-fill", "#101820", "-draw", f"rectangle {x0},{y0} {x1},{y1}",
            "-fill", "none", "-stroke", "#0A1016", "-draw", f"line {x0},{y0} {x1},{y0}",
            "-draw", f"line {x0},{y0} {x0},{y1}", "-stroke", "#4A5F78", "-draw", f"line {x0},{y1} {x1},{y1}",
            "-draw", f"line {x1},{y0} {x1},{y1}",
            "-fill", "none", "-stroke", PANEL_EDGE, "-draw", f"rectangle 0,0 {width - 1},{height - 1}",
            "-stroke", "none", "-fill", INK, "-font", FONT_BOLD, "-pointsize", "12",
            "-annotate", f"+{EXPORT_MARGIN + 4}+{EXPORT_TITLE_HEIGHT - 8}", "Finished files",
            out_name(folder, "exp_room.png"))


def file_page_art(folder, w, h, side):
    for _, art, caption, _, _, width, height in file_page_geometry(w)["buttons"]:
        if caption:
            button_strip(folder, art, width, height, caption, False)
    export_room_art(folder, w, h, side)
    tile(folder, "room_strip_base.png", 120, 96, "#C9D6E6", PANEL_EDGE)
    tile(folder, "room_strip_shine.png", 120, 96, "#DCE8F6", ACCENT_HOT)
    tile(folder, "room_strip_select.png", 120, 96, ACCENT_HOT, ACCENT_DOWN)


def file_page_nodes(view, width, height, w):
    """The controls of the file page, or the export room's own layout (room-local places)."""
    g = file_page_geometry(w)
    if view == "EXPORT_ROOM":
        return [f'    <SUBVIEW ID="LAYOUT1" LEFT="0" TOP="0" WIDTH="{width}" HEIGHT="{height}">',
                f'      <STATIC ID="ROOM" LEFT="0" TOP="0" WIDTH="{width}" HEIGHT="{height}">',
                f'        <BACKGROUNDIMAGE SOURCE="exp_room.png" WIDTH="{width}" HEIGHT="{height}"/>',
                "      </STATIC>",
                '      <STATIC ID="IDC_EXPROOM_ICONVIEW_ICON" LEFT="0" TOP="0" WIDTH="120" HEIGHT="96"/>',
                '      <STATIC ID="IDC_EXPROOM_REPORTVIEW_ICON" LEFT="0" TOP="0" WIDTH="16" HEIGHT="16"/>',
                '      <STATIC ID="IDC_EXPROOM_POSTER" LEFT="8" TOP="6" WIDTH="104" HEIGHT="70"/>'] + \
            room_list_nodes(*g["export_list"](width, height))[:1] + ["    </SUBVIEW>"]
    sl, st, sw, sh = g["screen"]
    lines = [f'    <SUBVIEW ID="LAYOUT1" LEFT="0" TOP="0" WIDTH="{width}" HEIGHT="{height}">',
             f'      <STATIC ID="ORIGIONSCREEN" LEFT="{sl}" TOP="{st}" WIDTH="{sw}" HEIGHT="{sh}"/>']
    # Under the preview: the position slider, then the time-code edit at the right.
    led = '<LEDNUMBERIMAGE SOURCE="led_digits.png" WIDTH="429" HEIGHT="17"/>'
    lines += slider("SELECTSLIDER", "IDC_DISPLAY_SELECTSLIDER", *g["slider"], [])
    tl, tt = g["time_edit"]
    lines += [f'      <SPINTIMEEDIT ID="IDC_DISPLAY_SPINTIMEEDITDURATION" LEFT="{tl}" TOP="{tt}" WIDTH="121" HEIGHT="17">',
              '        <SUBREGIONLSPIN LEFT="125" TOP="0" WIDTH="16" HEIGHT="8"/>',
              '        <SUBREGIONRSPIN LEFT="125" TOP="8" WIDTH="16" HEIGHT="8"/>',
              f'        <BACKGROUNDIMAGE SOURCE="field.png" WIDTH="121" HEIGHT="17"/>{led}',
              '        <INCNORMALIMAGE SOURCE="tk_spin_up.png"/><DECNORMALIMAGE SOURCE="tk_spin_down.png"/>',
              "      </SPINTIMEEDIT>"]
    for name, art, _, left, top, bw, bh in g["buttons"]:
        lines += [f'      <BUTTON ID="{name}" LEFT="{left}" TOP="{top}" WIDTH="{bw}" HEIGHT="{bh}"'
                  + (' TOGGLE="TRUE"' if name.endswith("_VOL") else "") + ">",
                  f'        <NORMALIMAGE SOURCE="{art}"/>', "      </BUTTON>"]
    for name, left, top, sw in g["statics"]:
        align = "" if name == "IDC_STATIC_BATCH_LIST" else ' TEXTALIGN="STATIC_TEXT_CENTER"'
        lines += [f'      <STATIC ID="{name}" LEFT="{left}" TOP="{top}" WIDTH="{sw}" HEIGHT="20"{align}>',
                  f'        <BACKGROUNDIMAGE SOURCE="page_band.png" WIDTH="{sw}" HEIGHT="20"/>', "      </STATIC>"]
    lines.append("    </SUBVIEW>")
    return lines


def batch_list_view(w):
    """The batch list: its room in the file page and the list's place inside the room."""
    left, top, width, height = file_page_geometry(w)["batch_room"]
    return [f'  <VIEW ID="BATCH_LIST" LEFT="{left}" TOP="{top}" WIDTH="{width}" HEIGHT="{height}">',
            f'    <SUBVIEW ID="LAYOUT1" LEFT="0" TOP="0" WIDTH="{width}" HEIGHT="{height}">',
            f'      <STATIC ID="ROOM" LEFT="{left}" TOP="{top}" WIDTH="{width}" HEIGHT="{height}">',
            '        <BACKGROUNDIMAGE SOURCE="EncBatchLCBK.jpg" WIDTH="64" HEIGHT="64"/>',
            "      </STATIC>",
            '      <STATIC ID="IDC_BATCH_LIST_ICONVIEW_ICON" LEFT="0" TOP="0" WIDTH="120" HEIGHT="96"/>',
            '      <STATIC ID="IDC_BATCH_LIST_REPORTVIEW_ICON" LEFT="0" TOP="0" WIDTH="16" HEIGHT="16"/>',
            '      <STATIC ID="IDC_BATCH_LIST_POSTER" LEFT="8" TOP="6" WIDTH="104" HEIGHT="70"/>'] + \
        room_list_nodes(0, 0, width - 16, height)[:1] + scroll_bar("ROOMSCROLLBAR", width - 16, 0, False, height - 32) + \
        ["    </SUBVIEW>", "  </VIEW>"]

# ---- The video viewer: its transport art and its view (a window of 666 x 583 client pixels
# around a 640 x 480 picture; the transport band is the lowest 92 pixels). ----
VIEWER_W, VIEWER_H = 666, 583


def video_viewer_art(folder):
    """The viewer's transport buttons, its screen ground and the audio thumbnail."""
    for name, caption, toggle in [("vv_stop.png", "Stop", True), ("vv_play.png", "Play", True),
                                  ("vv_pause.png", "Pause", True), ("vv_ff.png", "FF", False),
                                  ("vv_minus.png", "<", False), ("vv_plus.png", ">", False),
                                  ("vv_mark.png", "M", False)]:
        button_strip(folder, name, 48, 28, caption, toggle)
    convert("-size", "160x120", f"xc:{GROUND}", "-fill", ACCENT, "-draw", "rectangle 20,50 140,70",
            out_name(folder, "vv_audio.png"))
    # The window's ground: the viewer copies its corners (left 40, right 120 columns; top 85,
    # bottom 272 rows) to the window's and repeats column 40 and row 85 between them, so the
    # art changes only across those lines: a bezel around the picture (margins 13, 11, 13
    # and 92) and the transport panel in the lowest 92 rows.
    w, h = 160, 357
    band = h - 92
    convert("-size", f"{w}x{h}", f"xc:{GROUND}",
            "-fill", PANEL_EDGE, "-draw", f"rectangle 0,0 {w - 1},1",
            "-fill", "none", "-stroke", FIELD, "-draw", f"rectangle 10,8 {w - 11},{band + 2}",
            "-stroke", PANEL_EDGE, "-draw", f"rectangle 11,9 {w - 12},{band + 1}",
            "-stroke", "none", "-fill", PANEL, "-draw", f"roundrectangle 5,{band + 5} {w - 6},{h - 6} 6,6",
            "-fill", "none", "-stroke", PANEL_EDGE, "-draw", f"roundrectangle 5,{band + 5} {w - 6},{h - 6} 6,6",
            "-stroke", ACCENT_DOWN, "-draw", f"line 12,{band + 43} {w - 13},{band + 43}",
            out_name(folder, "VideoViewer_BG.jpg"))


def video_viewer_view():
    """The viewer's controls; the band's controls are placed from the bottom edge."""
    band = VIEWER_H - 92
    lines = [f'  <VIEW ID="VideoViewerDlg" LEFT="0" TOP="0" WIDTH="{VIEWER_W}" HEIGHT="{VIEWER_H}">',
             f'    <SUBVIEW ID="ALL" LEFT="0" TOP="0" WIDTH="{VIEWER_W}" HEIGHT="{VIEWER_H}">',
             '      <STATIC ID="SCREEN" LEFT="13" TOP="11" WIDTH="640" HEIGHT="480"/>',
             '      <STATIC ID="AUDIOTHUMBNAIL" LEFT="13" TOP="11" WIDTH="160" HEIGHT="120">',
             '        <BACKGROUNDIMAGE SOURCE="vv_audio.png" WIDTH="160" HEIGHT="120"/>',
             "      </STATIC>"]
    buttons = [("IDC_BUTTON_STOP", "vv_stop.png", True), ("IDC_BUTTON_PLAY", "vv_play.png", True),
               ("IDC_BUTTON_PAUSE", "vv_pause.png", True), ("IDC_BUTTON_FASTFORWARD", "vv_ff.png", False),
               ("IDC_BUTTON_MINUS", "vv_minus.png", False), ("IDC_BUTTON_PLUS", "vv_plus.png", False)]
    for i, (name, art, toggle) in enumerate(buttons):
        # Play and Pause share a place: one of them shows at a time.
        x = 13 + 52 * (i if i < 2 else i - 1)
        lines.append(f'      <BUTTON ID="{name}" LEFT="{x}" TOP="{band + 52}" WIDTH="48" HEIGHT="28"'
                     + (' TOGGLE="TRUE">' if toggle else ">"))
        lines.append(f'        <NORMALIMAGE SOURCE="{art}"/>')
        lines.append("      </BUTTON>")
    lines.append(f'      <BUTTON ID="IDC_VIDEOVIEWER_BUTTONVOLUME" LEFT="{VIEWER_W - 45}" TOP="{band + 50}" '
                 'WIDTH="32" HEIGHT="32" TOGGLE="TRUE">')
    lines.append('        <NORMALIMAGE SOURCE="btn_volume.png"/>')
    lines.append("      </BUTTON>")
    for i, name in enumerate(["IDC_VIDEOVIEWER_BTN_MARKIN", "IDC_VIDEOVIEWER_BTN_MARKOUT",
                              "IDC_VIDEOVIEWER_BTN_ENABLEMAGSLIDER", "IDC_VIDEOVIEWER_BTN_DISABLEMAGSLIDER",
                              "IDC_VIDEOVIEWER_BTN_MAGNIFYUP", "IDC_VIDEOVIEWER_BTN_MAGNIFYDOWN"]):
        lines.append(f'      <BUTTON ID="{name}" LEFT="{330 + 52 * (i % 3)}" TOP="{band + 52}" WIDTH="48" '
                     'HEIGHT="28">')
        lines.append('        <NORMALIMAGE SOURCE="vv_mark.png"/>')
        lines.append("      </BUTTON>")
    lines.append(f'      <STATIC ID="IDC_VIDEOVIEWER_STATIC_TIMEEDIT_BG" LEFT="{VIEWER_W - 200}" TOP="{band + 54}" '
                 'WIDTH="146" HEIGHT="24">')
    lines.append('        <BACKGROUNDIMAGE SOURCE="page_value.png" WIDTH="146" HEIGHT="24"/>')
    lines.append("      </STATIC>")
    lines.append(f'      <STATIC ID="IDC_VIDEOVIEWER_STATIC_SPEED" LEFT="{VIEWER_W - 260}" TOP="{band + 56}" '
                 'WIDTH="52" HEIGHT="20" TEXTALIGN="STATIC_TEXT_CENTER"/>')
    led = '<LEDNUMBERIMAGE SOURCE="led_digits.png" WIDTH="429" HEIGHT="17"/>'
    lines += [
        f'      <SPINTIMEEDIT ID="IDC_TIMEEDIT_VIDEOVIEWER" LEFT="{VIEWER_W - 196}" TOP="{band + 57}" WIDTH="121" '
        'HEIGHT="17">',
        '        <SUBREGIONLSPIN LEFT="125" TOP="0" WIDTH="16" HEIGHT="8"/>',
        '        <SUBREGIONRSPIN LEFT="125" TOP="8" WIDTH="16" HEIGHT="8"/>',
        f'        <BACKGROUNDIMAGE SOURCE="field.png" WIDTH="121" HEIGHT="17"/>{led}',
        '        <INCNORMALIMAGE SOURCE="tk_spin_up.png"/><DECNORMALIMAGE SOURCE="tk_spin_down.png"/>',
        "      </SPINTIMEEDIT>"]
    lines += slider("SELECTSLIDER", "IDC_VIDEOVIEWER_SLIDER_PLAYBACK", 13, band + 6, [])
    lines += slider("MAGNIFYSLIDER", "IDC_VIDEOVIEWER_MAGNIFYSLIDER", 340, band + 6, [])
    lines += ["    </SUBVIEW>", "  </VIEW>"]
    return lines


# ---- The batch capture dialog: a wizard of 762 x 594 client pixels. The preview (and the
# review player) at the upper left, the step texts and the segment list at the right, the tape
# transport or the review buttons under the preview, Next, Back and Cancel at the bottom. ----
BATCH_W, BATCH_H = 762, 594
BATCH_LABELS = [(120, 20), (334, 20), (354, 24), (354, 40), (250, 20)]  # the sizes of its text labels


def batch_capture_art(folder):
    gradient(folder, "Batch_BG.png", BATCH_W, BATCH_H, "#22354A", GROUND)
    convert("-size", "360x288", f"xc:{GROUND}", "-fill", "none", "-stroke", PANEL_EDGE,
            "-draw", "rectangle 0,0 359,287", out_name(folder, "Batch_FilePlayback.png"))
    for name, caption in [("batch_next.png", "Next"), ("batch_back.png", "Back"), ("batch_cancel.png", "Cancel"),
                          ("batch_profile.png", "Profile"), ("batch_note.png", "Note"), ("batch_merge.png", "Merge"),
                          ("batch_automerge.png", "Auto merge")]:
        button_strip(folder, name, 96, 28, caption, False)
    # The list's thumbnail grounds (normal, lit, selected, capturing) and its check marks: two
    # 16-pixel cells, unchecked then checked, on magenta.
    for name, ground in [("Batch ThumbnailNormal.JPG", PANEL), ("Batch ThumbnailShine.JPG", ACCENT_HOT),
                         ("Batch ThumbnailSelected.JPG", ACCENT_DOWN), ("Batch ThumbnailProcess.JPG", "#7A3B2E")]:
        convert("-size", "112x104", f"xc:{ground}", out_name(folder, name))
    convert("-size", "32x16", f"xc:{MAGENTA}", "-fill", FIELD, "-stroke", PANEL_EDGE,
            "-draw", "rectangle 1,1 14,14", "-draw", "rectangle 17,1 30,14", "-stroke", CHECKED, "-strokewidth", "2",
            "-draw", "line 20,8 23,12", "-draw", "line 23,12 28,3", out_name(folder, "EncDVCheckBox.jpg"))
    convert("-size", "16x16", f"xc:{MAGENTA}", "-fill", CHECKED, "-draw", "circle 8,8 8,3",
            out_name(folder, "Batch IconFinished.bmp"))
    convert("-size", "360x288", f"xc:{DV_POST_ENCODING_GROUND}", out_name(folder, "Batch PostEncodingBK.jpg"))
    # The encoding progress under the preview, as wide as the preview: ground and filled part.
    convert("-size", "360x24", f"xc:{PANEL}", out_name(folder, "batch_progress_bg.png"))
    convert("-size", "360x24", f"xc:{ACCENT}", out_name(folder, "batch_progress_fill.png"))
    # The labels' bands, one per label size of the view.
    for width, height in BATCH_LABELS:
        convert("-size", f"{width}x{height}", "gradient:#C9D6E6-#AFC3DA", out_name(folder, f"batch_band_{width}x{height}.png"))


def batch_capture_view():
    x, y, pw, ph = 16, 16, 360, 288
    right = x + pw + 16
    rw = BATCH_W - right - 16
    lines = [f'  <VIEW ID="BATCH" LEFT="0" TOP="0" WIDTH="{BATCH_W}" HEIGHT="{BATCH_H}">',
             f'    <SUBVIEW ID="LAYOUT1" LEFT="0" TOP="0" WIDTH="{BATCH_W}" HEIGHT="{BATCH_H}">',
             f'      <BACKGROUNDIMAGE SOURCE="Batch_BG.png" WIDTH="{BATCH_W}" HEIGHT="{BATCH_H}"/>',
             f'      <STATIC ID="MONITOR" LEFT="{x}" TOP="{y}" WIDTH="{pw}" HEIGHT="{ph}"/>',
             f'      <STATIC ID="IDC_FILEPLAYBACK_BK" LEFT="{x}" TOP="{y}" WIDTH="{pw}" HEIGHT="{ph}"/>',
             f'      <STATIC ID="DRAW_POST_ENCODING" LEFT="{x}" TOP="{y + ph - 40}" WIDTH="{pw}" HEIGHT="40"/>']

    def button(name, left, top, width, height, art, toggle=False):
        return [f'      <BUTTON ID="{name}" LEFT="{left}" TOP="{top}" WIDTH="{width}" HEIGHT="{height}" '
                f'TOGGLE="{"TRUE" if toggle else "FALSE"}">', f'        <NORMALIMAGE SOURCE="{art}"/>',
                "      </BUTTON>"]

    def label(name, left, top, width, height=20):
        return [f'      <STATIC ID="{name}" LEFT="{left}" TOP="{top}" WIDTH="{width}" HEIGHT="{height}" '
                'TEXTALIGN="STATIC_TEXT_LEFT">',
                f'        <BACKGROUNDIMAGE SOURCE="batch_band_{width}x{height}.png" WIDTH="{width}" HEIGHT="{height}"/>',
                "      </STATIC>"]

    ty = y + ph + 12
    for i, (name, art) in enumerate([("IDC_BUTTON_CAP_REWIND", "dv_rewind.png"), ("IDC_BUTTON_CAP_PLAY", "dv_play.png"),
                                     ("IDC_BUTTON_CAP_PAUSE", "dv_pause.png"), ("IDC_BUTTON_CAP_STOP", "dv_stop.png"),
                                     ("IDC_BUTTON_CAP_FASTFORWORD", "dv_wind.png"),
                                     ("IDC_BUTTON_CAP_PREVFRAME", "dv_prev.png"),
                                     ("IDC_BUTTON_CAP_NEXTFRAME", "dv_next.png")]):
        lines += button(name, x + i * 51, ty, 48, 32, art, "FRAME" not in name)
    # The review buttons share the transport row; play and pause share a place.
    for i, (name, art) in enumerate([("IDC_BUTTON_BATCH_FILE_PLAY", "vv_play.png"),
                                     ("IDC_BUTTON_BATCH_FILE_PAUSE", "vv_pause.png"),
                                     ("IDC_BUTTON_BATCH_FILE_STOP", "vv_stop.png"),
                                     ("IDC_BUTTON_BATCH_FILE_PREVFRAME", "vv_minus.png"),
                                     ("IDC_BUTTON_BATCH_FILE_NEXTFRAME", "vv_plus.png"),
                                     ("IDC_BUTTON_BATCH_FILE_FASTFORWARD", "vv_ff.png")]):
        lines += button(name, x + max(i - 1, 0) * 52, ty + 2, 48, 28, art, i < 3)
    lines += [f'      <STATIC ID="IDC_STATIC_BATCH_SPEED" LEFT="{x + 264}" TOP="{ty + 6}" WIDTH="40" HEIGHT="20" '
              'TEXTALIGN="STATIC_TEXT_CENTER"/>']
    sy = ty + 44
    # The volume button stands below the seek button while the tape is shown, beside the
    # review buttons while a file plays.
    vy = sy + 48 + 36
    lines += button("IDC_BUTTON_DV_VOL", x + pw - 32, vy, 32, 32, "btn_volume.png", True)
    lines.append(f'      <STATIC ID="IDC_BATCH_VOL_DV" LEFT="{x + pw - 32}" TOP="{vy}" WIDTH="32" HEIGHT="32"/>')
    lines.append(f'      <STATIC ID="IDC_BATCH_VOL_FILE" LEFT="{x + pw - 32}" TOP="{ty}" WIDTH="32" HEIGHT="32"/>')
    lines += button("IDC_BUTTON_SHUTTLE_LEFT", x, sy, 24, 24, "dv_shuttle_left.png")
    lines.append(f'      <STATIC ID="IDC_SLIDER_SHUTTLE" LEFT="{x + 32}" TOP="{sy}" WIDTH="240" HEIGHT="24"/>')
    lines += button("IDC_BUTTON_SHUTTLE_RIGHT", x + 280, sy, 24, 24, "dv_shuttle_right.png")
    lines += slider("SELECTSLIDER", "IDC_SLIDER_BATCH_PREVIEW", x + 30, sy - 4, [])
    lines += [f'      <SIMPLESLIDER ID="IDC_DISPLAY_SELECTSLIDER" LEFT="{x}" TOP="{sy}" WIDTH="{pw}" HEIGHT="24">',
              f'        <THUMBRELATIVEPOS TOP="0" HEIGHT="24"/><SUBREGIONBK WIDTH="{pw}" HEIGHT="24"/>',
              '        <SUBREGIONTHUMB WIDTH="4" HEIGHT="24"/>',
              '        <BACKGROUNDIMAGE SOURCE="batch_progress_bg.png"/>'
              '<THUMBNORMALIMAGE SOURCE="batch_progress_fill.png"/>',
              "      </SIMPLESLIDER>"]
    cy = sy + 48
    lines += label("IDC_STATIC_TIMECODE", x, cy, 120)
    lines += [f'      <SPINTIMEEDIT ID="IDC_EDIT_DV_TIMECODE" LEFT="{x + 128}" TOP="{cy + 1}" WIDTH="121" HEIGHT="17">',
              '        <SUBREGIONLSPIN LEFT="125" TOP="0" WIDTH="16" HEIGHT="8"/>',
              '        <SUBREGIONRSPIN LEFT="125" TOP="8" WIDTH="16" HEIGHT="8"/>',
              '        <BACKGROUNDIMAGE SOURCE="field.png" WIDTH="121" HEIGHT="17"/>'
              '<LEDNUMBERIMAGE SOURCE="led_digits.png" WIDTH="429" HEIGHT="17"/>',
              '        <INCNORMALIMAGE SOURCE="tk_spin_up.png"/><DECNORMALIMAGE SOURCE="tk_spin_down.png"/>',
              "      </SPINTIMEEDIT>"]
    lines += button("IDC_BUTTON_DV_SEEK", x + 288, cy - 4, 72, 28, "dv_seek.png")
    lines += button("IDC_CHK_CAP_NONREALTIME", x, cy + 36, 20, 20, "dv_check.png", True)
    lines += label("IDC_STATIC_NONREALTIME", x + 26, cy + 36, pw - 26)
    lines += button("IDC_BUTTON_BATCH_NOTE", x, cy + 36, 96, 28, "batch_note.png")

    lines += label("IDC_STATIC_STEP_CAPTION", right, y, rw, 24)
    lines += label("IDC_STATIC_STEP_DESC", right, y + 28, rw, 40)
    lines.append(f'      <STATIC ID="LISTCTRL" LEFT="{right}" TOP="{y + 76}" WIDTH="{rw}" HEIGHT="330"/>')
    lines += room_list_nodes(0, 0, rw - 16, 330)
    lines.append(f'      <STATIC ID="IDC_BATCH_POSTER" LEFT="0" TOP="0" WIDTH="112" HEIGHT="84"/>')
    lines.append(f'      <STATIC ID="IDC_BATCH_ICON" LEFT="4" TOP="86" WIDTH="16" HEIGHT="16"/>')
    my = y + 76 + 338
    lines += button("IDC_BATCH_BUTTONMERGE", right, my, 96, 28, "batch_merge.png")
    lines += button("IDC_BATCH_BUTTONAUTOMERGE", right + 104, my, 96, 28, "batch_automerge.png")
    lines += button("IDC_BUTTON_PROFILESETUP_F2", right, my + 36, 96, 28, "batch_profile.png")
    lines += label("IDC_STATIC_PROFILE", right + 104, my + 40, rw - 104)
    by = BATCH_H - 44
    for i, name in enumerate(["IDC_BUTTON_CAP_PREV_STEP", "IDC_BUTTON_CAP_NEXT_STEP", "IDC_BUTTON_CAP_CANCEL"]):
        art = ["batch_back.png", "batch_next.png", "batch_cancel.png"][i]
        lines += button(name, BATCH_W - 16 - (3 - i) * 104 + 8, by, 96, 28, art)
    lines += ["    </SUBVIEW>", "  </VIEW>"]
    return lines


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    for (w, h, side), folder in [((1024, 768, 240), "1024x768"), ((800, 600, 200), "800x600")]:
        draw_art(os.path.join(out, folder), w, h, side)
        video_viewer_art(os.path.join(out, folder))
        batch_capture_art(os.path.join(out, folder))
        with open(os.path.join(out, f"skin{folder}.xml"), "w", encoding="utf-8") as f:
            f.write(layout(w, h, side))


if __name__ == "__main__":
    main()
