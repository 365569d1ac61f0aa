#!/usr/bin/python3
"""Draws the editor's pictures into ui/assets: window icons (also as the
Windows program's .ico), the about window's background with the text drawn
in it (also as plain text, which the window gives screen readers), its five
site logos and the pointing-hand cursor.

Needs Debian's python3-pil and fonts-wqy-microhei. The output is committed;
run this again only to change the artwork:  tools/make_artwork.py
"""
from pathlib import Path

from PIL import Image, ImageDraw, ImageFont

ASSETS = Path(__file__).resolve().parent.parent / "ui" / "assets"
CJK_FONT = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"
BOLD_FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"

INK = (62, 40, 20)
GOLD = (196, 150, 60)
PARCHMENT = (238, 226, 196)

# The texts drawn into the about window's background: its heading, the notice
# at the upper right and the contact block.
HEADING = "单位编辑器"
NOTICE = ["本程序为免费软件,", "修改前请备份资料文件。"]
CONTACT = ["联系作者", "电子邮件: editor@example.com", "主页: www.example.com", "欢迎提出意见和建议"]


def font(path, size):
    return ImageFont.truetype(path, size)


def shield(size):
    """The program's emblem: a gold shield with a crossed sword and spear."""
    img = Image.new("RGBA", (size, size), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    s = size / 32
    outline = [(3 * s, 2 * s), (29 * s, 2 * s), (29 * s, 16 * s), (16 * s, 30 * s), (3 * s, 16 * s)]
    d.polygon(outline, fill=(150, 30, 30), outline=GOLD)
    d.line([(8 * s, 7 * s), (24 * s, 23 * s)], fill=(235, 235, 235), width=max(1, int(2 * s)))
    d.line([(24 * s, 7 * s), (8 * s, 23 * s)], fill=GOLD, width=max(1, int(2 * s)))
    d.line([(3 * s, 2 * s), (29 * s, 2 * s)], fill=GOLD, width=max(1, int(s)))
    return img


def window_icons():
    for size in (16, 32):
        shield(size).save(ASSETS / f"icon{size}.png")
    # The program's icon in the .exe: the same two images, each drawn at its
    # own size rather than scaled from the other, as bitmaps with an alpha
    # channel (PNG inside an icon is for large sizes, and not every reader of
    # small ones takes it).
    shield(32).save(ASSETS / "icon.ico", sizes=[(16, 16), (32, 32)], append_images=[shield(16)],
                    bitmap_format="bmp")
    # The about window's own icon: 32 x 32 in 256 colours.
    about = Image.new("RGB", (32, 32), PARCHMENT)
    about.paste(shield(32), (0, 0), shield(32))
    d = ImageDraw.Draw(about)
    d.ellipse([20, 20, 31, 31], fill=(30, 60, 150), outline=(255, 255, 255))
    d.text((24, 20), "i", fill=(255, 255, 255), font=font(BOLD_FONT, 10))
    about.quantize(256).save(ASSETS / "about_icon.png")


def background(scale=1):
    """400 x 200 as designed; scale 2 draws the same picture for high-DPI screens."""
    def k(*values):
        return [v * scale for v in values]
    img = Image.new("RGB", (400 * scale, 200 * scale), PARCHMENT)
    d = ImageDraw.Draw(img)
    for y in range(200 * scale):  # a soft vertical shade
        shade = int(10 * y / (200 * scale))
        d.line([(0, y), (400 * scale - 1, y)], fill=(238 - shade, 226 - shade, 196 - shade * 2))
    d.rectangle([0, 0, 400 * scale - 1, 200 * scale - 1], outline=INK, width=scale)
    d.rectangle(k(3, 3) + [396 * scale + scale - 1, 196 * scale + scale - 1], outline=GOLD, width=scale)
    # Left strip behind the logos.
    d.rectangle(k(8, 36) + [104 * scale + scale - 1, 196 * scale + scale - 1], fill=(222, 206, 170), outline=GOLD,
                width=scale)
    # Heading, upper left.
    img.paste(shield(28 * scale), tuple(k(10, 5)), shield(28 * scale))
    d.text(tuple(k(42, 8)), HEADING, fill=INK, font=font(CJK_FONT, 17 * scale))
    # Notice, upper right.
    for i, line in enumerate(NOTICE):
        d.text(tuple(k(262, 10 + 16 * i)), line, fill=(120, 30, 30), font=font(CJK_FONT, 12 * scale))
    # Contact block, middle of the right half.
    d.rectangle(k(186, 78) + [392 * scale + scale - 1, 160 * scale + scale - 1], outline=GOLD, width=scale)
    for i, line in enumerate(CONTACT):
        d.text(tuple(k(196, 84 + 18 * i)), line, fill=INK, font=font(CJK_FONT, (12 if i else 13) * scale))
    # Plain white field under the combo box.
    d.rectangle(k(186, 174) + [392 * scale + scale - 1, 194 * scale + scale - 1], fill=(255, 255, 255))
    suffix = "" if scale == 1 else f"@{scale}x"
    img.save(ASSETS / f"about_background{suffix}.jpg", "JPEG", quality=92)


def picture_text():
    """What the background says, one line per drawn line, for screen readers."""
    (ASSETS / "about_background.txt").write_text("\n".join([HEADING] + NOTICE + CONTACT) + "\n", encoding="utf-8")


def logo(text, sub, colours, height=31, scale=1):
    top, bottom, ink = colours
    width, tall = 88 * scale, height * scale
    img = Image.new("RGB", (width, tall), top)
    d = ImageDraw.Draw(img)
    for y in range(tall):
        t = y / (tall - 1)
        d.line([(0, y), (width - 1, y)], fill=tuple(int(a + (b - a) * t) for a, b in zip(top, bottom)))
    d.rectangle([0, 0, width - 1, tall - 1], outline=ink, width=scale)
    d.text((5 * scale, 2 * scale), text, fill=ink, font=font(BOLD_FONT, 11 * scale))
    d.text((5 * scale, 16 * scale), sub, fill=ink, font=font(CJK_FONT, 11 * scale))
    return img


def logos(scale=1):
    suffix = "" if scale == 1 else f"@{scale}x"
    logo("TARVENOR", "单位编辑器", ((255, 250, 235), (230, 200, 140), (90, 50, 10)), scale=scale).save(
        ASSETS / f"logo0{suffix}.jpg", "JPEG", quality=92)
    logo("NEWS", "新闻与下载", ((200, 230, 255), (90, 140, 210), (10, 30, 80)), scale=scale).convert(
        "P", palette=Image.ADAPTIVE, colors=64).save(ASSETS / f"logo1{suffix}.gif")
    logo("FORUM", "模组讨论区", ((220, 255, 220), (100, 180, 100), (10, 60, 10)), height=32, scale=scale).save(
        ASSETS / f"logo2{suffix}.jpg", "JPEG", quality=92)
    logo("WIKI", "单位数据查询", ((255, 230, 230), (200, 100, 100), (80, 10, 10)), scale=scale).save(
        ASSETS / f"logo3{suffix}.jpg", "JPEG", quality=92, progressive=True)
    logo("MOD WORKS", "模组与地图", ((240, 230, 255), (140, 110, 200), (40, 20, 80)), scale=scale).save(
        ASSETS / f"logo4{suffix}.jpg", "JPEG", quality=92)


# A pointing hand, finger tip at (5, 0): '#' black outline, '.' white.
HAND = [
    "    ##          ",
    "   #..#         ",
    "   #..#         ",
    "   #..#         ",
    "   #..#         ",
    "   #..###       ",
    "   #..#..###    ",
    "   #..#..#..##  ",
    "   #..#..#..#.# ",
    "####..#..#..#..#",
    "#..#..........#.",
    "#..#...........#",
    " #.............#",
    " #.............#",
    "  #............#",
    "  #...........# ",
    "   #..........# ",
    "   #.........#  ",
    "    #........#  ",
    "    #........#  ",
    "    ##########  ",
]


def cursor():
    img = Image.new("RGBA", (32, 32), (0, 0, 0, 0))
    for y, row in enumerate(HAND):
        for x, c in enumerate(row):
            if c == "#":
                img.putpixel((x + 1, y), (0, 0, 0, 255))
            elif c == ".":
                img.putpixel((x + 1, y), (255, 255, 255, 255))
    img.save(ASSETS / "hand_cursor.png")


if __name__ == "__main__":
    ASSETS.mkdir(parents=True, exist_ok=True)
    window_icons()
    for scale in (1, 2):  # as designed, and twice as sharp for high-DPI screens (Qt picks @2x)
        background(scale)
        logos(scale)
    picture_text()
    cursor()
    print("artwork written to", ASSETS)
