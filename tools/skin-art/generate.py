#!/usr/bin/python3
"""Draws every picture of the skin package.

Run from anywhere: `/usr/bin/python3 tools/skin-art/generate.py [SKIN_DIR]` (default: the
repository's skin/ folder). Needs pycairo (Debian: python3-cairo). The output is committed,
so the build never runs this script; run it again after changing the design and commit the
pictures with it. The same inputs always give the same bytes: nothing here depends on
fonts, time or randomness.

One design runs through all pictures: a calm teal-green brand colour on white and very light
mint, dark grey text, amber for warnings. Control pictures are strips of states laid out left
to right as normal, hot, pushed, disabled.
"""
import math
import os
import struct
import sys

import cairo

# ---------------------------------------------------------------- palette

def rgb(hex_colour, alpha=1.0):
    h = hex_colour.lstrip("#")
    return (int(h[0:2], 16) / 255.0, int(h[2:4], 16) / 255.0, int(h[4:6], 16) / 255.0, alpha)


BRAND = "#1B7F68"          # primary buttons, selected states, logo
BRAND_HOT = "#239A7F"      # lighter on hover
BRAND_PUSHED = "#125B4A"   # darker when pressed
BRAND_LIGHT = "#2DB08F"    # gradient highlights
BRAND_DEEP = "#0F4F40"
DISABLED = "#B8C3BF"
MINT_50 = "#F3F9F7"
MINT_100 = "#E4F2EC"
MINT_200 = "#CFE8DE"
GREY_TEXT = "#333333"
GREY_MID = "#7D8784"
GREY_LINE = "#D9E0DD"
GREY_SOFT = "#EEF2F0"
AMBER = "#F2A516"
AMBER_DEEP = "#C97F06"
HELP_BLUE = "#2F80C9"
CLOSE_RED = "#E0564B"
MAGENTA = "#FF00FF"

STATES = ("normal", "hot", "pushed", "disabled")

# ---------------------------------------------------------------- helpers


def new_surface(w, h):
    surf = cairo.ImageSurface(cairo.FORMAT_ARGB32, w, h)
    ctx = cairo.Context(surf)
    ctx.set_antialias(cairo.ANTIALIAS_GRAY)
    return surf, ctx


def rounded_rect(ctx, x, y, w, h, r):
    r = min(r, w / 2.0, h / 2.0)
    ctx.new_sub_path()
    ctx.arc(x + w - r, y + r, r, -math.pi / 2, 0)
    ctx.arc(x + w - r, y + h - r, r, 0, math.pi / 2)
    ctx.arc(x + r, y + h - r, r, math.pi / 2, math.pi)
    ctx.arc(x + r, y + r, r, math.pi, 3 * math.pi / 2)
    ctx.close_path()


def linear(x0, y0, x1, y1, stops):
    pat = cairo.LinearGradient(x0, y0, x1, y1)
    for offset, colour in stops:
        pat.add_color_stop_rgba(offset, *colour)
    return pat


def radial(cx, cy, r, stops):
    pat = cairo.RadialGradient(cx, cy, 0, cx, cy, r)
    for offset, colour in stops:
        pat.add_color_stop_rgba(offset, *colour)
    return pat


def soft_shadow(ctx, x, y, w, h, r, spread=8, strength=0.10, dy=3):
    """A blurred-looking shadow made of stacked translucent rounded rectangles."""
    for i in range(spread, 0, -1):
        a = strength * (1.0 - i / (spread + 1.0)) / spread * 2.2
        ctx.set_source_rgba(0.05, 0.20, 0.16, a)
        rounded_rect(ctx, x - i, y - i + dy, w + 2 * i, h + 2 * i, r + i)
        ctx.fill()


def check_mark(ctx, cx, cy, size, width, colour):
    ctx.save()
    ctx.set_source_rgba(*colour)
    ctx.set_line_width(width)
    ctx.set_line_cap(cairo.LINE_CAP_ROUND)
    ctx.set_line_join(cairo.LINE_JOIN_ROUND)
    ctx.move_to(cx - size * 0.50, cy + size * 0.02)
    ctx.line_to(cx - size * 0.14, cy + size * 0.36)
    ctx.line_to(cx + size * 0.52, cy - size * 0.32)
    ctx.stroke()
    ctx.restore()


def circular_arrow(ctx, cx, cy, radius, width, colour, start_deg=-50.0, sweep_deg=290.0):
    """The brand mark: an open ring that ends in an arrow head (a backup turning round)."""
    a0 = math.radians(start_deg)
    a1 = math.radians(start_deg + sweep_deg)
    ctx.save()
    ctx.set_source_rgba(*colour)
    ctx.set_line_width(width)
    ctx.set_line_cap(cairo.LINE_CAP_ROUND)
    ctx.arc(cx, cy, radius, a0, a1 - math.radians(14))
    ctx.stroke()
    # Arrow head at a1, pointing along the direction of travel (clockwise).
    hx, hy = cx + radius * math.cos(a1), cy + radius * math.sin(a1)
    tx, ty = -math.sin(a1), math.cos(a1)          # tangent, clockwise
    nx, ny = math.cos(a1), math.sin(a1)           # outward normal
    head = width * 1.55
    ctx.move_to(hx + tx * head * 0.9, hy + ty * head * 0.9)
    ctx.line_to(hx - tx * head * 0.55 + nx * head, hy - ty * head * 0.55 + ny * head)
    ctx.line_to(hx - tx * head * 0.55 - nx * head, hy - ty * head * 0.55 - ny * head)
    ctx.close_path()
    ctx.fill()
    ctx.restore()


def brand_mark(ctx, x, y, size):
    """The product logo inside a size x size box: rounded tile, gradient, white mark."""
    r = size * 0.24
    inset = size * 0.04
    tile = size - 2 * inset
    ctx.save()
    # Faint outer glow so the tile sits softly on white.
    ctx.set_source_rgba(*rgb(BRAND, 0.10))
    rounded_rect(ctx, x + inset * 0.4, y + inset * 0.9, tile + inset * 1.2, tile + inset * 1.2, r + inset)
    ctx.fill()
    rounded_rect(ctx, x + inset, y + inset, tile, tile, r)
    ctx.set_source(linear(x, y, x + size, y + size, [(0.0, rgb(BRAND_LIGHT)), (1.0, rgb(BRAND_DEEP))]))
    ctx.fill_preserve()
    # Top sheen.
    ctx.set_source(linear(0, y, 0, y + size * 0.6, [(0.0, (1, 1, 1, 0.22)), (1.0, (1, 1, 1, 0.0))]))
    ctx.fill()
    cx, cy = x + size / 2.0, y + size / 2.0
    circular_arrow(ctx, cx, cy, size * 0.25, size * 0.075, (1, 1, 1, 1))
    # The kept data at the centre.
    ctx.set_source_rgba(1, 1, 1, 1)
    ctx.arc(cx, cy, size * 0.075, 0, 2 * math.pi)
    ctx.fill()
    ctx.restore()


def save(surf, root, rel):
    path = os.path.join(root, *rel.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    surf.write_to_png(path)
    return path


# ---------------------------------------------------------------- backgrounds


def page_background(complete):
    """The first page. The window switches to the `complete` picture when an install starts
    and keeps it for the finished form and the failure form alike, so it carries no verdict:
    the finished row draws the tick, the failure form its warning."""
    w, h = 650, 360
    surf, ctx = new_surface(w, h)
    ctx.set_source(linear(0, 0, 0, h, [(0.0, rgb("#FFFFFF")), (0.55, rgb(MINT_50)), (1.0, rgb("#EDF6F2"))]))
    ctx.paint()
    # Large calm shapes at the edges, away from the texts in the middle.
    ctx.set_source(radial(40, 330, 230, [(0.0, rgb(MINT_100, 0.85)), (1.0, rgb(MINT_100, 0.0))]))
    ctx.paint()
    ctx.set_source(radial(640, 20, 210, [(0.0, rgb(MINT_200, 0.55)), (1.0, rgb(MINT_200, 0.0))]))
    ctx.paint()
    # Halo behind the 72 x 72 logo (centre 325, 88).
    halo = MINT_200 if complete else MINT_100
    ctx.set_source(radial(325, 88, 74, [(0.0, rgb(halo, 0.95)), (0.55, rgb(halo, 0.45)), (1.0, rgb(halo, 0.0))]))
    ctx.paint()
    ctx.set_line_width(1.0)
    # Rings stay above the product name, which starts 48 pixels below the logo's centre.
    for radius, alpha in ((45.5, 0.55), (55.5, 0.30)):
        ctx.set_source_rgba(*rgb(BRAND, alpha * (0.45 if not complete else 0.7)))
        ctx.arc(325, 88, radius, 0, 2 * math.pi)
        ctx.stroke()
    # Thin brand line on the very top edge.
    ctx.set_source(linear(0, 0, w, 0, [(0.0, rgb(BRAND_LIGHT)), (1.0, rgb(BRAND))]))
    ctx.rectangle(0, 0, w, 3)
    ctx.fill()
    return surf


def settings_background():
    w, h = 650, 200
    surf, ctx = new_surface(w, h)
    ctx.set_source(linear(0, 0, 0, h, [(0.0, rgb("#F6F9F8")), (1.0, rgb("#F1F5F3"))]))
    ctx.paint()
    ctx.set_source_rgba(*rgb(GREY_LINE))
    ctx.rectangle(0, 0, w, 1)
    ctx.fill()
    ctx.set_source(linear(0, 1, 0, 7, [(0.0, (0.05, 0.2, 0.16, 0.06)), (1.0, (0.05, 0.2, 0.16, 0.0))]))
    ctx.rectangle(0, 1, w, 6)
    ctx.fill()
    return surf


def message_background():
    """500 x 190; the layouts stretch it by its middle, keeping a 4-pixel border and the footer."""
    w, h = 500, 190
    surf, ctx = new_surface(w, h)
    ctx.set_source_rgba(1, 1, 1, 1)
    ctx.paint()
    ctx.set_source(linear(0, 0, w, 0, [(0.0, rgb(BRAND_LIGHT)), (1.0, rgb(BRAND))]))
    ctx.rectangle(0, 0, w, 3)
    ctx.fill()
    ctx.set_source_rgba(*rgb("#F5F8F7"))
    ctx.rectangle(0, 128, w, h - 128)
    ctx.fill()
    ctx.set_source_rgba(*rgb("#E8EDEB"))
    ctx.rectangle(0, 128, w, 1)
    ctx.fill()
    return surf


# ---------------------------------------------------------------- logo and overlay


def logo(size):
    surf, ctx = new_surface(size, size)
    brand_mark(ctx, 0, 0, size)
    return surf


OVERLAY_CENTRE = (160.0, 160.0)
OVERLAY_TRACK_RADIUS = 136.0
OVERLAY_TRACK_WIDTH = 5.0


def overlay_background():
    w = h = 320
    surf, ctx = new_surface(w, h)
    cx, cy = OVERLAY_CENTRE
    # Soft round shadow, then a white disc that carries the logo, the name and the spinner.
    for i in range(10, 0, -1):
        ctx.set_source_rgba(0.04, 0.18, 0.14, 0.012)
        ctx.arc(cx, cy + 2, 148 + i * 0.9, 0, 2 * math.pi)
        ctx.fill()
    ctx.set_source(radial(cx, cy - 30, 190, [(0.0, rgb("#FFFFFF")), (1.0, rgb(MINT_50))]))
    ctx.arc(cx, cy, 148, 0, 2 * math.pi)
    ctx.fill()
    ctx.set_source_rgba(*rgb(GREY_SOFT))
    ctx.set_line_width(OVERLAY_TRACK_WIDTH)
    ctx.arc(cx, cy, OVERLAY_TRACK_RADIUS, 0, 2 * math.pi)
    ctx.stroke()
    ctx.set_source(radial(160, 128, 60, [(0.0, rgb(MINT_100, 0.9)), (1.0, rgb(MINT_100, 0.0))]))
    ctx.arc(160, 128, 60, 0, 2 * math.pi)
    ctx.fill()
    return surf


SPINNER_FRAMES = 21


def spinner_frame(k):
    """Frame k of 21: a comet arc on the overlay's track, turned by k/21 of a full circle."""
    w = h = 320
    surf, ctx = new_surface(w, h)
    cx, cy = OVERLAY_CENTRE
    head = -math.pi / 2 + 2 * math.pi * k / SPINNER_FRAMES
    tail_len = math.radians(150)
    # The tail fades in along the angle: a mesh of thin annular patches, so neighbouring
    # pieces share their edges and no seam shows, clipped to the smooth arc stroke.
    segments = 90
    r_in = OVERLAY_TRACK_RADIUS - OVERLAY_TRACK_WIDTH
    r_out = OVERLAY_TRACK_RADIUS + OVERLAY_TRACK_WIDTH
    mesh = cairo.MeshPattern()
    for s in range(segments):
        t0, t1 = s / segments, (s + 1) / segments
        a0 = head - tail_len * (1 - t0)
        a1 = head - tail_len * (1 - t1)
        c0 = rgb(BRAND_LIGHT if t0 < 0.5 else BRAND, t0 ** 1.6)
        c1 = rgb(BRAND_LIGHT if t1 < 0.5 else BRAND, t1 ** 1.6)
        mesh.begin_patch()
        mesh.move_to(cx + r_in * math.cos(a0), cy + r_in * math.sin(a0))
        mesh.line_to(cx + r_out * math.cos(a0), cy + r_out * math.sin(a0))
        mesh.line_to(cx + r_out * math.cos(a1), cy + r_out * math.sin(a1))
        mesh.line_to(cx + r_in * math.cos(a1), cy + r_in * math.sin(a1))
        mesh.set_corner_color_rgba(0, *c0)
        mesh.set_corner_color_rgba(1, *c0)
        mesh.set_corner_color_rgba(2, *c1)
        mesh.set_corner_color_rgba(3, *c1)
        mesh.end_patch()
    ctx.set_line_width(OVERLAY_TRACK_WIDTH)
    ctx.set_line_cap(cairo.LINE_CAP_BUTT)
    ctx.arc(cx, cy, OVERLAY_TRACK_RADIUS, head - tail_len, head)
    ctx.set_source(mesh)
    ctx.stroke()
    # Rounded bright head.
    hx = cx + OVERLAY_TRACK_RADIUS * math.cos(head)
    hy = cy + OVERLAY_TRACK_RADIUS * math.sin(head)
    ctx.set_source_rgba(*rgb(BRAND))
    ctx.arc(hx, hy, OVERLAY_TRACK_WIDTH * 0.5, 0, 2 * math.pi)
    ctx.fill()
    ctx.set_source(radial(hx, hy, 9, [(0.0, rgb(BRAND_LIGHT, 0.35)), (1.0, rgb(BRAND_LIGHT, 0.0))]))
    ctx.arc(hx, hy, 9, 0, 2 * math.pi)
    ctx.fill()
    return surf


# ---------------------------------------------------------------- slides (650 x 300)
# The program writes a caption into the band y 40..140, so the pictures keep it quiet and
# put their illustration below it.


def slide_base(ctx, top, bottom):
    w, h = 650, 300
    ctx.set_source(linear(0, 0, 0, h, [(0.0, rgb(top)), (1.0, rgb(bottom))]))
    ctx.paint()
    ctx.set_source(radial(325, 300, 330, [(0.0, (1, 1, 1, 0.55)), (1.0, (1, 1, 1, 0.0))]))
    ctx.paint()
    # Ground line with soft ends.
    ctx.set_source(linear(60, 0, 590, 0, [(0.0, rgb(BRAND, 0.0)), (0.5, rgb(BRAND, 0.16)), (1.0, rgb(BRAND, 0.0))]))
    ctx.rectangle(60, 272, 530, 1.5)
    ctx.fill()


def document(ctx, x, y, w, h, accent):
    soft_shadow(ctx, x, y, w, h, 6, spread=6, strength=0.12, dy=2)
    ctx.set_source_rgba(1, 1, 1, 1)
    rounded_rect(ctx, x, y, w, h, 6)
    ctx.fill()
    ctx.set_source_rgba(*rgb(accent))
    rounded_rect(ctx, x + 10, y + 12, w * 0.42, 6, 3)
    ctx.fill()
    ctx.set_source_rgba(*rgb(GREY_LINE))
    for i in range(3):
        rounded_rect(ctx, x + 10, y + 26 + i * 11, (w - 20) * (0.95 - 0.18 * (i % 2)), 4, 2)
        ctx.fill()


def slide_automatic():
    surf, ctx = new_surface(650, 300)
    slide_base(ctx, "#F7FBFA", "#E2F2EC")
    # A computer on the left ...
    soft_shadow(ctx, 150, 158, 150, 96, 10, spread=8, strength=0.14)
    ctx.set_source_rgba(*rgb("#2E3B38"))
    rounded_rect(ctx, 150, 158, 150, 96, 10)
    ctx.fill()
    ctx.set_source(linear(0, 166, 0, 246, [(0.0, rgb("#FFFFFF")), (1.0, rgb(MINT_50))]))
    rounded_rect(ctx, 157, 165, 136, 80, 5)
    ctx.fill()
    ctx.set_source_rgba(*rgb("#2E3B38"))
    ctx.rectangle(214, 254, 22, 12)
    ctx.fill()
    rounded_rect(ctx, 190, 264, 70, 7, 3)
    ctx.fill()
    for i, accent in enumerate((BRAND, AMBER, HELP_BLUE)):
        x = 168 + i * 42
        ctx.set_source_rgba(*rgb(accent, 0.9))
        rounded_rect(ctx, x, 178, 30, 24, 4)
        ctx.fill()
        ctx.set_source_rgba(*rgb(GREY_LINE))
        rounded_rect(ctx, x, 210, 30, 5, 2)
        ctx.fill()
        rounded_rect(ctx, x, 220, 22, 5, 2)
        ctx.fill()
    # ... dotted path to the safe place on the right ...
    for i in range(7):
        ctx.set_source_rgba(*rgb(BRAND, 0.25 + 0.1 * i))
        ctx.arc(322 + i * 16, 206 - math.sin(i / 6.0 * math.pi) * 18, 3, 0, 2 * math.pi)
        ctx.fill()
    # ... a vault tile with the brand mark and a clock badge: backups run on their own.
    soft_shadow(ctx, 440, 160, 96, 96, 22, spread=9, strength=0.16)
    brand_mark(ctx, 436, 156, 104)
    ctx.set_source_rgba(1, 1, 1, 1)
    ctx.arc(528, 166, 19, 0, 2 * math.pi)
    ctx.fill()
    ctx.set_source_rgba(*rgb(AMBER))
    ctx.arc(528, 166, 16, 0, 2 * math.pi)
    ctx.fill()
    ctx.set_source_rgba(1, 1, 1, 1)
    ctx.set_line_width(2.6)
    ctx.set_line_cap(cairo.LINE_CAP_ROUND)
    ctx.move_to(528, 166)
    ctx.line_to(528, 156)
    ctx.move_to(528, 166)
    ctx.line_to(536, 170)
    ctx.stroke()
    return surf


def slide_protected():
    surf, ctx = new_surface(650, 300)
    slide_base(ctx, "#F7FAFC", "#E3EEF3")
    cx = 325
    # Orbit of small file dots.
    ctx.set_line_width(1.2)
    ctx.set_source_rgba(*rgb(BRAND, 0.22))
    ctx.save()
    ctx.translate(cx, 214)
    ctx.scale(1.0, 0.36)
    ctx.arc(0, 0, 150, 0, 2 * math.pi)
    ctx.restore()
    ctx.stroke()
    for i, (a, colour) in enumerate(((200, AMBER), (250, HELP_BLUE), (320, BRAND_LIGHT), (20, AMBER), (150, HELP_BLUE))):
        r = math.radians(a)
        x = cx + 150 * math.cos(r)
        y = 214 + 54 * math.sin(r)
        ctx.set_source_rgba(1, 1, 1, 1)
        rounded_rect(ctx, x - 9, y - 11, 18, 22, 4)
        ctx.fill()
        ctx.set_source_rgba(*rgb(colour, 0.9))
        rounded_rect(ctx, x - 5, y - 6, 10, 4, 2)
        ctx.fill()
    # Shield.
    top, bottom, half = 150, 280, 56
    soft_shadow(ctx, cx - half, top + 10, 2 * half, bottom - top - 30, 30, spread=10, strength=0.12)

    def shield_path():
        ctx.new_path()
        ctx.move_to(cx, top)
        ctx.curve_to(cx + 26, top + 14, cx + half - 6, top + 16, cx + half, top + 16)
        ctx.curve_to(cx + half, top + 70, cx + 44, bottom - 30, cx, bottom - 12)
        ctx.curve_to(cx - 44, bottom - 30, cx - half, top + 70, cx - half, top + 16)
        ctx.curve_to(cx - half + 6, top + 16, cx - 26, top + 14, cx, top)
        ctx.close_path()

    shield_path()
    ctx.set_source(linear(cx - half, top, cx + half, bottom, [(0.0, rgb(BRAND_LIGHT)), (1.0, rgb(BRAND_DEEP))]))
    ctx.fill()
    ctx.save()
    shield_path()
    ctx.clip()
    ctx.set_source_rgba(1, 1, 1, 0.12)
    ctx.rectangle(cx - half, top, half, bottom - top)
    ctx.fill()
    ctx.restore()
    # Padlock.
    ctx.set_source_rgba(1, 1, 1, 1)
    ctx.set_line_width(6)
    ctx.arc(cx, 202, 15, math.pi, 2 * math.pi)
    ctx.stroke()
    ctx.rectangle(cx - 15, 202, 0.01, 6)
    rounded_rect(ctx, cx - 24, 200, 48, 38, 7)
    ctx.fill()
    ctx.set_source_rgba(*rgb(BRAND_DEEP))
    ctx.arc(cx, 215, 5, 0, 2 * math.pi)
    ctx.fill()
    ctx.rectangle(cx - 2.5, 216, 5, 11)
    ctx.fill()
    return surf


def slide_restore():
    surf, ctx = new_surface(650, 300)
    slide_base(ctx, "#FAFBF7", "#ECF2E6")
    # Versions of a document, fanned out on a timeline.
    for i, accent in enumerate((GREY_LINE, MINT_200, BRAND_LIGHT)):
        document(ctx, 170 + i * 34, 168 - i * 8, 86, 96, accent)
    ctx.set_line_width(2)
    ctx.set_source_rgba(*rgb(BRAND, 0.35))
    ctx.move_to(150, 282)
    ctx.line_to(300, 282)
    ctx.stroke()
    for i in range(4):
        ctx.set_source_rgba(*rgb(BRAND if i == 3 else MINT_200))
        ctx.arc(160 + i * 44, 282, 5 if i == 3 else 4, 0, 2 * math.pi)
        ctx.fill()
    # One click turns back time.
    soft_shadow(ctx, 380, 160, 112, 112, 56, spread=9, strength=0.12)
    ctx.set_source_rgba(1, 1, 1, 1)
    ctx.arc(436, 216, 56, 0, 2 * math.pi)
    ctx.fill()
    ctx.set_source_rgba(*rgb(MINT_100))
    ctx.arc(436, 216, 46, 0, 2 * math.pi)
    ctx.fill()
    ctx.save()
    ctx.translate(436 * 2, 0)
    ctx.scale(-1, 1)      # counter-clockwise arrow: going back
    circular_arrow(ctx, 436, 216, 32, 7, rgb(BRAND), start_deg=-40, sweep_deg=285)
    ctx.restore()
    ctx.set_source_rgba(*rgb(BRAND_DEEP))
    ctx.set_line_width(4)
    ctx.set_line_cap(cairo.LINE_CAP_ROUND)
    ctx.move_to(436, 216)
    ctx.line_to(436, 200)
    ctx.move_to(436, 216)
    ctx.line_to(448, 223)
    ctx.stroke()
    return surf


# ---------------------------------------------------------------- small parts


def dot(selected):
    surf, ctx = new_surface(6, 6)
    ctx.set_source_rgba(*rgb(BRAND if selected else "#B3C4BE"))
    ctx.arc(3, 3, 3, 0, 2 * math.pi)
    ctx.fill()
    return surf


def progress_bar(fill):
    w, h = 590, 6
    surf, ctx = new_surface(w, h)
    rounded_rect(ctx, 0, 0, w, h, 3)
    if fill:
        ctx.set_source(linear(0, 0, w, 0, [(0.0, rgb(BRAND_LIGHT)), (1.0, rgb(BRAND))]))
        ctx.fill()
        ctx.set_source_rgba(1, 1, 1, 0.25)
        rounded_rect(ctx, 1, 0.5, w - 2, 2, 1)
        ctx.fill()
    else:
        ctx.set_source_rgba(*rgb("#E1E9E6"))
        ctx.fill()
    return surf


def primary_strip(state_w, h, radius, special=False):
    """Filled brand buttons: white text sits on them."""
    fills = {
        "normal": (BRAND_LIGHT if special else "#21957A", BRAND),
        "hot": ("#33BC99", BRAND_HOT),
        "pushed": (BRAND_PUSHED, BRAND_PUSHED),
        "disabled": (DISABLED, DISABLED),
    }
    surf, ctx = new_surface(state_w * 4, h)
    for i, state in enumerate(STATES):
        x = i * state_w
        top, bottom = fills[state]
        inset = 0.5
        if state == "pushed":
            rounded_rect(ctx, x + inset, inset, state_w - 2 * inset, h - 2 * inset, radius)
            ctx.set_source_rgba(*rgb(bottom))
            ctx.fill()
            # Inner shadow along the top: the button is pressed in.
            ctx.save()
            rounded_rect(ctx, x + inset, inset, state_w - 2 * inset, h - 2 * inset, radius)
            ctx.clip()
            ctx.set_source(linear(0, 0, 0, 5, [(0.0, (0, 0, 0, 0.28)), (1.0, (0, 0, 0, 0.0))]))
            ctx.rectangle(x, 0, state_w, 5)
            ctx.fill()
            ctx.restore()
            continue
        rounded_rect(ctx, x + inset, inset, state_w - 2 * inset, h - 2 * inset, radius)
        ctx.set_source(linear(0, 0, 0, h, [(0.0, rgb(top)), (1.0, rgb(bottom))]))
        ctx.fill()
        if state != "disabled":
            ctx.save()
            rounded_rect(ctx, x + inset, inset, state_w - 2 * inset, h - 2 * inset, radius)
            ctx.clip()
            ctx.set_source_rgba(1, 1, 1, 0.30 if state == "hot" else 0.18)
            ctx.rectangle(x, 0, state_w, 1.2)
            ctx.fill()
            ctx.set_source_rgba(0, 0, 0, 0.10)
            ctx.rectangle(x, h - 1.2, state_w, 1.2)
            ctx.fill()
            ctx.restore()
    return surf


def secondary_strip(state_w, h, radius):
    """Outlined buttons: dark text sits on them."""
    looks = {
        "normal": ("#FFFFFF", "#FFFFFF", "#C9D3CF"),
        "hot": ("#FFFFFF", MINT_50, BRAND_HOT),
        "pushed": (MINT_100, MINT_100, BRAND),
        "disabled": ("#F4F6F5", "#F4F6F5", "#E0E5E3"),
    }
    surf, ctx = new_surface(state_w * 4, h)
    for i, state in enumerate(STATES):
        x = i * state_w
        top, bottom, border = looks[state]
        rounded_rect(ctx, x + 0.5, 0.5, state_w - 1, h - 1, radius)
        ctx.set_source(linear(0, 0, 0, h, [(0.0, rgb(top)), (1.0, rgb(bottom))]))
        ctx.fill_preserve()
        ctx.set_source_rgba(*rgb(border))
        ctx.set_line_width(1.0)
        ctx.stroke()
        if state == "pushed":
            ctx.save()
            rounded_rect(ctx, x + 1, 1, state_w - 2, h - 2, radius)
            ctx.clip()
            ctx.set_source(linear(0, 0, 0, 4, [(0.0, (0, 0.2, 0.15, 0.16)), (1.0, (0, 0, 0, 0.0))]))
            ctx.rectangle(x, 0, state_w, 4)
            ctx.fill()
            ctx.restore()
    return surf


def title_button_strip(kind):
    """20 x 20 title-bar buttons; the glyph stays legible on the light page."""
    surf, ctx = new_surface(80, 20)
    for i, state in enumerate(STATES):
        x = i * 20
        cx, cy = x + 10, 10
        glyph = rgb("#6E7A76")
        if state == "hot":
            ctx.set_source_rgba(*(rgb(CLOSE_RED) if kind == "close" else rgb("#E3EBE8")))
            rounded_rect(ctx, x + 1, 1, 18, 18, 4)
            ctx.fill()
            glyph = (1, 1, 1, 1) if kind == "close" else rgb(GREY_TEXT)
        elif state == "pushed":
            ctx.set_source_rgba(*(rgb("#B8453C") if kind == "close" else rgb("#CBD8D3")))
            rounded_rect(ctx, x + 1, 1, 18, 18, 4)
            ctx.fill()
            glyph = (1, 1, 1, 1) if kind == "close" else rgb("#1F2624")
        elif state == "disabled":
            glyph = rgb("#C6CFCB")
        ctx.set_source_rgba(*glyph)
        ctx.set_line_width(1.6)
        ctx.set_line_cap(cairo.LINE_CAP_ROUND)
        if kind == "close":
            ctx.move_to(cx - 4.5, cy - 4.5)
            ctx.line_to(cx + 4.5, cy + 4.5)
            ctx.move_to(cx + 4.5, cy - 4.5)
            ctx.line_to(cx - 4.5, cy + 4.5)
        else:
            ctx.move_to(cx - 5, cy + 0.5)
            ctx.line_to(cx + 5, cy + 0.5)
        ctx.stroke()
    return surf


def checkbox(ticked):
    surf, ctx = new_surface(20, 20)
    if ticked:
        rounded_rect(ctx, 2, 2, 16, 16, 3.5)
        ctx.set_source(linear(0, 2, 0, 18, [(0.0, rgb(BRAND_HOT)), (1.0, rgb(BRAND))]))
        ctx.fill()
        check_mark(ctx, 10, 10.3, 10, 2.2, (1, 1, 1, 1))
    else:
        rounded_rect(ctx, 2.5, 2.5, 15, 15, 3)
        ctx.set_source_rgba(1, 1, 1, 1)
        ctx.fill_preserve()
        ctx.set_source_rgba(*rgb("#9AA8A3"))
        ctx.set_line_width(1.0)
        ctx.stroke()
    return surf


def combo(hot):
    w, h = 300, 28
    surf, ctx = new_surface(w, h)
    rounded_rect(ctx, 0.5, 0.5, w - 1, h - 1, 4)
    ctx.set_source_rgba(1, 1, 1, 1)
    ctx.fill_preserve()
    ctx.set_source_rgba(*rgb(BRAND_HOT if hot else "#C9D3CF"))
    ctx.set_line_width(1.0)
    ctx.stroke()
    # Separator and chevron.
    ctx.set_source_rgba(*rgb(MINT_100 if hot else GREY_SOFT))
    ctx.rectangle(w - 29, 5, 1, h - 10)
    ctx.fill()
    ctx.set_source_rgba(*rgb(BRAND if hot else GREY_MID))
    ctx.set_line_width(1.8)
    ctx.set_line_cap(cairo.LINE_CAP_ROUND)
    ctx.set_line_join(cairo.LINE_JOIN_ROUND)
    ctx.move_to(w - 19, 12)
    ctx.line_to(w - 14.5, 16.5)
    ctx.line_to(w - 10, 12)
    ctx.stroke()
    return surf


def message_icon(kind):
    s = 40
    surf, ctx = new_surface(s, s)
    colour = HELP_BLUE if kind == "help" else AMBER
    ctx.set_source(linear(0, 0, 0, s, [(0.0, rgb(colour)), (1.0, rgb(colour if kind == "help" else AMBER_DEEP))]))
    ctx.arc(20, 20, 18.5, 0, 2 * math.pi)
    ctx.fill()
    ctx.set_source_rgba(1, 1, 1, 0.16)
    ctx.arc(20, 20, 18.5, math.pi, 2 * math.pi)
    ctx.fill()
    ctx.set_source_rgba(1, 1, 1, 1)
    ctx.set_line_cap(cairo.LINE_CAP_ROUND)
    if kind == "help":
        ctx.set_line_width(3.6)
        ctx.arc(20, 15.5, 5.8, math.radians(195), math.radians(400))
        ctx.line_to(20, 23.5)
        ctx.stroke()
        ctx.arc(20, 29.5, 2.2, 0, 2 * math.pi)
        ctx.fill()
    else:
        ctx.set_line_width(3.8)
        ctx.move_to(20, 10.5)
        ctx.line_to(20, 23)
        ctx.stroke()
        ctx.arc(20, 29.5, 2.3, 0, 2 * math.pi)
        ctx.fill()
    return surf


def warning_icon():
    s = 24
    surf, ctx = new_surface(s, s)
    ctx.set_line_join(cairo.LINE_JOIN_ROUND)
    ctx.move_to(12, 2.5)
    ctx.line_to(22.5, 21)
    ctx.line_to(1.5, 21)
    ctx.close_path()
    ctx.set_source(linear(0, 2, 0, 21, [(0.0, rgb(AMBER)), (1.0, rgb(AMBER_DEEP))]))
    ctx.set_line_width(2.5)
    ctx.stroke_preserve()
    ctx.fill()
    ctx.set_source_rgba(1, 1, 1, 1)
    ctx.set_line_width(2.4)
    ctx.set_line_cap(cairo.LINE_CAP_ROUND)
    ctx.move_to(12, 9)
    ctx.line_to(12, 14.5)
    ctx.stroke()
    ctx.arc(12, 18, 1.4, 0, 2 * math.pi)
    ctx.fill()
    return surf


# ---------------------------------------------------------------- scroll bar bitmap
# 42 x 108, three 14-pixel columns (normal, hot, pushed). Rows: up arrow 0-14, down arrow
# 14-28, left arrow 28-42, right arrow 42-56, vertical thumb 56-86, horizontal thumb 86-100,
# rail 100-108. Everything not drawn is magenta, which the layouts mask out. Edges are drawn
# without anti-aliasing so no pinkish fringe survives the mask.

SCROLL_W, SCROLL_H = 42, 108


def scrollbar_bitmap():
    surf = cairo.ImageSurface(cairo.FORMAT_RGB24, SCROLL_W, SCROLL_H)
    ctx = cairo.Context(surf)
    ctx.set_antialias(cairo.ANTIALIAS_NONE)
    ctx.set_source_rgba(*rgb(MAGENTA))
    ctx.paint()
    thumb = {0: "#C3CEC9", 1: "#9FB0A9", 2: BRAND}
    arrow = {0: "#9AA8A3", 1: "#5E6B67", 2: BRAND}
    for col in range(3):
        x = col * 14
        for row, direction in enumerate(("up", "down", "left", "right")):
            y = row * 14
            cx, cy = x + 7, y + 7
            ctx.set_source_rgba(*rgb(arrow[col]))
            pts = {
                "up": [(cx - 4, cy + 2), (cx + 4, cy + 2), (cx, cy - 2)],
                "down": [(cx - 4, cy - 2), (cx + 4, cy - 2), (cx, cy + 2)],
                "left": [(cx + 2, cy - 4), (cx + 2, cy + 4), (cx - 2, cy)],
                "right": [(cx - 2, cy - 4), (cx - 2, cy + 4), (cx + 2, cy)],
            }[direction]
            ctx.move_to(*pts[0])
            for p in pts[1:]:
                ctx.line_to(*p)
            ctx.close_path()
            ctx.fill()
        ctx.set_source_rgba(*rgb(thumb[col]))
        rounded_rect(ctx, x + 3, 56 + 1, 8, 28, 4)
        ctx.fill()
        rounded_rect(ctx, x + 1, 86 + 3, 12, 8, 4)
        ctx.fill()
        ctx.set_source_rgba(*rgb("#EDF1EF"))
        ctx.rectangle(x + 5, 100, 4, 8)
        ctx.fill()
    return surf


def write_bmp(surf, path):
    """24-bit bottom-up BMP of an RGB24 surface."""
    surf.flush()
    w, h = surf.get_width(), surf.get_height()
    stride = surf.get_stride()
    data = bytes(surf.get_data())
    row_size = (w * 3 + 3) & ~3
    pixels = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray()
        for x in range(w):
            b, g, r = data[y * stride + x * 4: y * stride + x * 4 + 3]   # little-endian xRGB
            row += bytes((b, g, r))
        row += b"\0" * (row_size - len(row))
        pixels += row
    header_size = 14 + 40
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", header_size + len(pixels), 0, 0, header_size))
        f.write(struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(pixels), 2835, 2835, 0, 0))
        f.write(pixels)


# ---------------------------------------------------------------- main


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "..", "skin")
    root = os.path.abspath(root)
    pictures = {
        "skin/backgroud.png": page_background(False),
        "skin/backgroud_complete.png": page_background(True),
        "skin/bg_setting.png": settings_background(),
        "skin/bg_message.png": message_background(),
        "skin/logo.png": logo(72),
        "skin/logo_running.png": logo(64),
        "skin/anima/1.png": slide_automatic(),
        "skin/anima/2.png": slide_protected(),
        "skin/anima/3.png": slide_restore(),
        "skin/OptionNormal.png": dot(False),
        "skin/OptionSelected.png": dot(True),
        "skin/bkprogress.png": progress_bar(False),
        "skin/progress.png": progress_bar(True),
        "skin/waiting.png": overlay_background(),
        "skin/btn_install.png": primary_strip(200, 40, 6),
        "skin/btn_start_now.png": primary_strip(200, 40, 6, special=True),
        "skin/btn_yes.png": primary_strip(110, 28, 4),
        "skin/btn_browse.png": secondary_strip(110, 28, 4),
        "skin/btn_min.png": secondary_strip(110, 28, 4),
        "skin/btn_no.png": secondary_strip(110, 28, 4),
        "skin/button_close.png": title_button_strip("close"),
        "skin/button_min.png": title_button_strip("min"),
        "skin/checkbox_h.png": checkbox(False),
        "skin/checkbox_p.png": checkbox(True),
        "skin/Combo_nor.png": combo(False),
        "skin/combo_over.png": combo(True),
        "skin/message_help.png": message_icon("help"),
        "skin/message_exclamation.png": message_icon("exclamation"),
        "skin/warning.png": warning_icon(),
    }
    for k in range(SPINNER_FRAMES):
        pictures["skin/gif/bg%02d.png" % k] = spinner_frame(k)
    for rel, surf in sorted(pictures.items()):
        save(surf, root, rel)
    write_bmp(scrollbar_bitmap(), os.path.join(root, "scrollbar.bmp"))
    print("wrote %d pictures and scrollbar.bmp under %s" % (len(pictures), root))


if __name__ == "__main__":
    main()
