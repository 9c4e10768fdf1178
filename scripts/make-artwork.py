#!/usr/bin/env python3
"""Draws the program's icons, screen images and notification sound into inbox/resources.

Everything here is made by this script; run it again after changing a drawing. PNG copies
are rendered from the SVGs with rsvg-convert (Debian package librsvg2-bin); the results are
committed, so building needs neither this script nor that tool."""

import math
import os
import struct
import subprocess
import sys
import wave

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "inbox", "resources")
BLUE = "#0040ff"
DEEP = "#0000ff"
LIGHT = "#E7EDFF"
RED = "#ea4848"


def write(rel, text):
    path = os.path.join(ROOT, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


# Line icons on a 24 x 24 grid, drawn with round strokes.
ICON_SHAPES = {
    "back": '<path d="M19 12H5M12 19l-7-7 7-7"/>',
    "bin": '<path d="M3 6h18M8 6V4h8v2M6 6l1 14h10l1-14M10 10v6M14 10v6"/>',
    "check": '<path d="M20 6L9 17l-5-5"/>',
    "check-circle": '<circle cx="12" cy="12" r="10"/><path d="M17 8l-6.5 7L7 11.5"/>',
    "circle": '<circle cx="12" cy="12" r="10"/>',
    "clip": '<path d="M20 11l-8.5 8.5a5 5 0 0 1-7-7L13 4a3.3 3.3 0 0 1 4.7 4.7l-8.6 8.6a1.6 1.6 0 0 1-2.3-2.3l7.8-7.8"/>',
    "close": '<path d="M18 6L6 18M6 6l12 12"/>',
    "contact": '<circle cx="12" cy="8" r="4"/><path d="M4 21v-1a6 6 0 0 1 6-6h4a6 6 0 0 1 6 6v1"/>',
    "copy": '<rect x="9" y="9" width="12" height="12" rx="2"/><path d="M5 15H4a1 1 0 0 1-1-1V4a1 1 0 0 1 1-1h10a1 1 0 0 1 1 1v1"/>',
    "download": '<path d="M12 3v12M7 10l5 5 5-5M4 21h16"/>',
    "edit": '<path d="M4 20h4L19 9l-4-4L4 16zM13 7l4 4"/>',
    "exit": '<path d="M9 21H5a2 2 0 0 1-2-2V5a2 2 0 0 1 2-2h4M16 17l5-5-5-5M21 12H9"/>',
    "eye": '<path d="M1 12s4-7 11-7 11 7 11 7-4 7-11 7S1 12 1 12z"/><circle cx="12" cy="12" r="3"/>',
    "eyeoff": '<path d="M1 12s4-7 11-7 11 7 11 7-4 7-11 7S1 12 1 12z"/><circle cx="12" cy="12" r="3"/><path d="M3 3l18 18"/>',
    "file": '<path d="M14 2H6a2 2 0 0 0-2 2v16a2 2 0 0 0 2 2h12a2 2 0 0 0 2-2V8zM14 2v6h6"/>',
    "folder": '<path d="M3 6a1 1 0 0 1 1-1h5l2 2h9a1 1 0 0 1 1 1v11a1 1 0 0 1-1 1H4a1 1 0 0 1-1-1z"/>',
    "inbox": '<path d="M22 12h-6l-2 3h-4l-2-3H2M5 5h14l3 7v7a1 1 0 0 1-1 1H3a1 1 0 0 1-1-1v-7z"/>',
    "info": '<circle cx="12" cy="12" r="10"/><path d="M12 16v-5M12 8h.01"/>',
    "link": '<path d="M10 14a5 5 0 0 0 7 0l3-3a5 5 0 0 0-7-7l-1 1M14 10a5 5 0 0 0-7 0l-3 3a5 5 0 0 0 7 7l1-1"/>',
    "lock": '<rect x="4" y="11" width="16" height="10" rx="2"/><path d="M8 11V7a4 4 0 0 1 8 0v4"/>',
    "unlock": '<rect x="4" y="11" width="16" height="10" rx="2"/><path d="M8 11V7a4 4 0 0 1 7.5-2"/>',
    "mail": '<rect x="2" y="4" width="20" height="16" rx="2"/><path d="M2 6l10 7 10-7"/>',
    "menu": '<path d="M3 6h18M3 12h18M3 18h18"/>',
    "plus": '<path d="M12 5v14M5 12h14"/>',
    "pluscircle": '<circle cx="12" cy="12" r="10"/><path d="M12 8v8M8 12h8"/>',
    "received": '<path d="M12 2v9M8 7l4 4 4-4M3 14h5l2 3h4l2-3h5v6a1 1 0 0 1-1 1H4a1 1 0 0 1-1-1z"/>',
    "send": '<path d="M22 2L11 13M22 2l-7 20-4-9-9-4z"/>',
    "settings": '<circle cx="12" cy="12" r="3"/><path d="M12 2v3M12 19v3M2 12h3M19 12h3M4.9 4.9l2.1 2.1M17 17l2.1 2.1M4.9 19.1L7 17M17 7l2.1-2.1"/><circle cx="12" cy="12" r="7"/>',
    "share": '<circle cx="18" cy="5" r="3"/><circle cx="6" cy="12" r="3"/><circle cx="18" cy="19" r="3"/><path d="M8.6 13.5l6.8 4M15.4 6.5l-6.8 4"/>',
    "transfer": '<path d="M17 3l4 4-4 4M21 7H7M7 21l-4-4 4-4M3 17h14"/>',
    "users": '<circle cx="9" cy="8" r="4"/><path d="M2 21v-1a6 6 0 0 1 6-6h2a6 6 0 0 1 6 6v1M16 4a4 4 0 0 1 0 8M19 14a5 5 0 0 1 3 5v2"/>',
}

# name -> (shape, colour); "-b" dark for light backgrounds, "-w" white for blue ones.
VECTORS = {
    "back": ("back", "#000000"), "bin-b": ("bin", "#000000"), "bin-w": ("bin", "#ffffff"),
    "check-b": ("check", "#000000"), "check-circle": ("check-circle", BLUE), "check-w": ("check", "#ffffff"),
    "circle": ("circle", "#d2d2d2"), "clip": ("clip", "#000000"), "clip-w": ("clip", "#ffffff"),
    "close": ("close", "#000000"), "close-b": ("close", "#000000"), "close-r": ("close", RED),
    "contact-b": ("contact", "#000000"), "contact-w": ("contact", "#ffffff"), "copy-b": ("copy", "#000000"),
    "download-b": ("download", "#000000"), "download-w": ("download", "#ffffff"),
    "edit-b": ("edit", "#000000"), "edit-w": ("edit", "#ffffff"), "exit-b": ("exit", "#000000"),
    "exit-w": ("exit", "#ffffff"), "eye-b": ("eye", "#000000"), "eye-w": ("eye", "#ffffff"),
    "eyeoff": ("eyeoff", "#d2d2d2"), "eyeoff-b": ("eyeoff", "#000000"), "file-w": ("file", "#ffffff"),
    "folder-b": ("folder", "#000000"), "inbox-b": ("inbox", "#000000"), "inbox-w": ("inbox", "#ffffff"),
    "info-b": ("info", "#000000"), "link-w": ("link", "#ffffff"), "lock-w": ("lock", "#ffffff"),
    "mail": ("mail", BLUE), "mail-b": ("mail", "#000000"), "mail-w": ("mail", "#ffffff"),
    "menu": ("menu", "#000000"), "plus-w": ("plus", "#ffffff"), "pluscircle-b": ("pluscircle", "#000000"),
    "pluscircle-w": ("pluscircle", "#ffffff"), "received-b": ("received", "#000000"),
    "received-w": ("received", "#ffffff"), "send-b": ("send", "#000000"), "send-w": ("send", "#ffffff"),
    "settings": ("settings", "#000000"), "share-b": ("share", "#000000"), "transfer": ("transfer", BLUE),
    "transfer-w": ("transfer", "#ffffff"), "unlock-w": ("unlock", "#ffffff"), "users-b": ("users", "#000000"),
    "users-w": ("users", "#ffffff"),
}


def icon(shape, colour):
    return ('<svg xmlns="http://www.w3.org/2000/svg" width="24" height="24" viewBox="0 0 24 24" fill="none" '
            f'stroke="{colour}" stroke-width="2" stroke-linecap="round" stroke-linejoin="round">'
            f'{ICON_SHAPES[shape]}</svg>\n')


def hexagon(cx, cy, r):
    pts = []
    for i in range(6):
        a = math.radians(60 * i - 90)
        pts.append(f"{cx + r * math.cos(a):.1f},{cy + r * math.sin(a):.1f}")
    return " ".join(pts)


def mark(cx, cy, r, fill, envelope):
    """The program's mark: a hexagon holding a sealed envelope."""
    w, h = r * 0.95, r * 0.62
    x, y = cx - w / 2, cy - h / 2
    return (f'<polygon points="{hexagon(cx, cy, r)}" fill="{fill}"/>'
            f'<rect x="{x:.1f}" y="{y:.1f}" width="{w:.1f}" height="{h:.1f}" rx="{r * 0.06:.1f}" fill="none" '
            f'stroke="{envelope}" stroke-width="{r * 0.09:.1f}" stroke-linejoin="round"/>'
            f'<path d="M{x:.1f} {y:.1f}L{cx:.1f} {cy + h * 0.12:.1f}L{x + w:.1f} {y:.1f}" fill="none" '
            f'stroke="{envelope}" stroke-width="{r * 0.09:.1f}" stroke-linejoin="round" stroke-linecap="round"/>')


def svg(w, h, body):
    return f'<svg xmlns="http://www.w3.org/2000/svg" width="{w}" height="{h}" viewBox="0 0 {w} {h}">{body}</svg>\n'


def images():
    out = {}
    out["cvn-tembra.svg"] = svg(200, 50, mark(25, 25, 22, BLUE, "#ffffff") +
                                '<text x="56" y="35" font-family="sans-serif" font-weight="bold" font-size="28" '
                                'fill="#000000">Tembra</text>')
    out["corvane-w.svg"] = svg(200, 50, mark(25, 25, 22, "#ffffff", BLUE) +
                               '<text x="56" y="35" font-family="sans-serif" font-weight="bold" font-size="28" '
                               'fill="#ffffff">Corvane</text>')
    out["cvn-icon.svg"] = svg(100, 100, mark(50, 50, 46, BLUE, "#ffffff"))
    out["cvn-hexagon.svg"] = svg(100, 100, f'<polygon points="{hexagon(50, 50, 46)}" fill="{BLUE}"/>')
    out["cvn-hexagon-alt.svg"] = svg(100, 100, f'<polygon points="{hexagon(50, 50, 46)}" fill="{LIGHT}"/>')
    # Tall backdrop of the slides: a deep-blue field with faint hexagons.
    hexes = "".join(f'<polygon points="{hexagon(x, y, r)}" fill="#ffffff" fill-opacity="{o}"/>'
                    for x, y, r, o in [(300, 80, 120, 0.06), (60, 420, 90, 0.05), (330, 520, 70, 0.08),
                                       (150, 250, 40, 0.07), (380, 330, 150, 0.04)])
    out["cvn-bg-v.svg"] = svg(450, 600, '<defs><linearGradient id="g" x1="0" y1="0" x2="0" y2="1">'
                              f'<stop offset="0" stop-color="{BLUE}"/><stop offset="1" stop-color="{DEEP}"/>'
                              '</linearGradient></defs><rect width="450" height="600" fill="url(#g)"/>' + hexes)
    out["cvn-find.svg"] = svg(150, 150, f'<circle cx="62" cy="62" r="40" fill="{LIGHT}" stroke="{BLUE}" '
                              'stroke-width="10"/><path d="M92 92l38 38" stroke="#000000" stroke-width="14" '
                              'stroke-linecap="round"/>' + mark(62, 62, 20, BLUE, "#ffffff"))
    # Slides: a padlock, a sealed envelope and a lightning bolt, white on the blue backdrop.
    out["cvn-slide1.svg"] = svg(200, 200, '<rect x="45" y="90" width="110" height="85" rx="12" fill="#ffffff"/>'
                                '<path d="M70 90V65a30 30 0 0 1 60 0v25" fill="none" stroke="#ffffff" '
                                f'stroke-width="14"/><circle cx="100" cy="125" r="10" fill="{BLUE}"/>'
                                f'<rect x="95" y="128" width="10" height="25" rx="4" fill="{BLUE}"/>')
    out["cvn-slide2.svg"] = svg(200, 200, '<rect x="30" y="55" width="140" height="95" rx="10" fill="#ffffff"/>'
                                f'<path d="M30 60l70 50 70-50" fill="none" stroke="{BLUE}" stroke-width="8" '
                                f'stroke-linejoin="round"/><circle cx="150" cy="145" r="26" fill="{DEEP}" '
                                'stroke="#ffffff" stroke-width="5"/><path d="M138 145l9 9 16-18" fill="none" '
                                'stroke="#ffffff" stroke-width="6" stroke-linecap="round" stroke-linejoin="round"/>')
    out["cvn-slide3.svg"] = svg(200, 200, '<path d="M115 15L50 110h45l-15 75 70-100h-47z" fill="#ffffff" '
                                'stroke="#ffffff" stroke-width="4" stroke-linejoin="round"/>')
    out["cvn-404.svg"] = svg(300, 200, f'<text x="150" y="120" text-anchor="middle" font-family="sans-serif" '
                             f'font-weight="bold" font-size="90" fill="{BLUE}">404</text>'
                             f'<path d="M60 150h180" stroke="{LIGHT}" stroke-width="10" stroke-linecap="round"/>')
    out["cvn-banner.svg"] = svg(800, 150, f'<rect width="800" height="150" fill="{DEEP}"/>' + "".join(
        f'<polygon points="{hexagon(x, y, r)}" fill="#ffffff" fill-opacity="0.07"/>'
        for x, y, r in [(700, 40, 90), (560, 140, 60), (80, 120, 50)]))
    out["cvn-myContacts.svg"] = svg(200, 200, f'<circle cx="100" cy="100" r="90" fill="{LIGHT}"/>'
                                    f'<circle cx="100" cy="80" r="28" fill="{BLUE}"/>'
                                    f'<path d="M50 155a50 45 0 0 1 100 0z" fill="{BLUE}"/>')
    out["cvn-nothing.svg"] = svg(200, 200, f'<circle cx="100" cy="100" r="90" fill="{LIGHT}"/>'
                                 '<path d="M45 105h35l8 14h24l8-14h35v40a6 6 0 0 1-6 6H51a6 6 0 0 1-6-6z" '
                                 f'fill="#ffffff" stroke="{BLUE}" stroke-width="6" stroke-linejoin="round"/>'
                                 f'<path d="M60 105l15-40h50l15 40" fill="none" stroke="{BLUE}" stroke-width="6" '
                                 'stroke-linejoin="round"/>')
    out["cvn-ready.svg"] = svg(200, 200, f'<circle cx="100" cy="100" r="90" fill="{LIGHT}"/>'
                               f'<circle cx="100" cy="100" r="55" fill="{BLUE}"/><path d="M75 100l18 18 33-36" '
                               'fill="none" stroke="#ffffff" stroke-width="12" stroke-linecap="round" '
                               'stroke-linejoin="round"/>')
    for name, text in out.items():
        write(os.path.join("images", "Images", name), text)


MIMETYPES = {
    "cvnCode": ("#6b3fa0", "</>"), "cvnDoc": ("#2b5fd9", "DOC"), "cvnFile": ("#7a7a7a", ""),
    "cvnImage": ("#1e9e6a", "IMG"), "cvnMusic": ("#d9478f", "MP3"), "cvnPDF": ("#d93a3a", "PDF"),
    "cvnPPT": ("#e0742b", "PPT"), "cvnTxt": ("#4a4a4a", "TXT"), "cvnVideo": ("#8a2be2", "VID"),
    "cvnXLS": ("#1f8f3a", "XLS"), "cvnZip": ("#b08a1e", "ZIP"),
}


def mimetypes():
    for name, (colour, label) in MIMETYPES.items():
        body = ('<path d="M10 2h18l10 10v34a2 2 0 0 1-2 2H10a2 2 0 0 1-2-2V4a2 2 0 0 1 2-2z" fill="#ffffff" '
                f'stroke="{colour}" stroke-width="2"/><path d="M28 2v10h10" fill="none" stroke="{colour}" '
                'stroke-width="2" stroke-linejoin="round"/>')
        if label:
            body += (f'<rect x="4" y="26" width="30" height="13" rx="2" fill="{colour}"/>'
                     f'<text x="19" y="36" text-anchor="middle" font-family="sans-serif" font-weight="bold" '
                     f'font-size="9" fill="#ffffff">{label.replace("<", "&lt;").replace(">", "&gt;")}</text>')
        write(os.path.join("mimetypes", "Mimetypes", name + ".svg"), svg(46, 50, body))


def application_icons():
    flat = svg(256, 256, f'<rect x="8" y="8" width="240" height="240" rx="48" fill="{BLUE}"/>' +
               mark(128, 128, 92, "#ffffff", BLUE))
    raised = svg(1024, 1024, '<defs><linearGradient id="g" x1="0" y1="0" x2="0" y2="1">'
                 f'<stop offset="0" stop-color="{BLUE}"/><stop offset="1" stop-color="{DEEP}"/></linearGradient>'
                 '</defs><rect x="72" y="88" width="880" height="880" rx="180" fill="#000000" fill-opacity="0.2"/>'
                 '<rect x="64" y="64" width="880" height="880" rx="180" fill="url(#g)"/>' +
                 mark(504, 504, 340, "#ffffff", BLUE))
    write("icons/Icons/icon.svg", flat)
    write("icons/Icons/icon3D.svg", raised)
    logo = svg(1200, 630, '<rect width="1200" height="630" fill="#ffffff"/>' + mark(330, 315, 170, BLUE, "#ffffff") +
               '<text x="540" y="360" font-family="sans-serif" font-weight="bold" font-size="130" '
               'fill="#000000">Corvane</text>')
    write("images/Images/corvaneLogoRecovery.svg.tmp", logo)
    png = [("icons/Icons/icon.svg", "icons/Icons/icon.png", 256),
           ("icons/Icons/icon3D.svg", "icons/Icons/icon3D.png", 1024),
           ("images/Images/corvaneLogoRecovery.svg.tmp", "images/Images/corvaneLogoRecovery.png", 1200),
           ("icons/Icons/icon.svg", "images/Images/favicon-32x32.png", 32)]
    for src, dst, width in png:
        subprocess.run(["rsvg-convert", "--width", str(width), "--keep-aspect-ratio", "--format", "png", "--output",
                        os.path.join(ROOT, dst), os.path.join(ROOT, src)], check=True)
    os.remove(os.path.join(ROOT, "images/Images/corvaneLogoRecovery.svg.tmp"))


def notification_sound():
    """A two-note chime, 16-bit stereo at 44100 Hz, 0.29 s."""
    rate, seconds = 44100, 0.29
    frames = bytearray()
    count = int(rate * seconds)
    for i in range(count):
        t = i / rate
        note = 987.77 if t < 0.09 else 1318.51
        start = 0.0 if t < 0.09 else 0.09
        local = t - start
        envelope = min(1.0, local / 0.004) * math.exp(-local * 14.0)
        fade = min(1.0, (count - i) / (rate * 0.01))
        sample = 0.45 * envelope * fade * (math.sin(2 * math.pi * note * t) + 0.25 * math.sin(4 * math.pi * note * t))
        value = max(-32767, min(32767, int(sample * 32767)))
        frames += struct.pack("<hh", value, value)
    path = os.path.join(ROOT, "sounds", "Sounds", "cvnNotification.wav")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with wave.open(path, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(bytes(frames))


def main():
    for name, (shape, colour) in VECTORS.items():
        write(os.path.join("vectors", "Vectors", f"cvn-{name}.svg"), icon(shape, colour))
    images()
    mimetypes()
    application_icons()
    notification_sound()
    return 0


if __name__ == "__main__":
    sys.exit(main())
