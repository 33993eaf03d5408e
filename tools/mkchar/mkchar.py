#!/usr/bin/env python3
"""Makes small test characters for the face package.

A character is a directory D with D/Models/... holding the files a load reads.
The head is a flat grid facing -y (the camera looks along +y, z is up) with
face regions by position; every morph target moves one known region by a
known amount, and manifest.txt lists those amounts so tests can tell which
target is shown.  Materials and images are coloured so that a drawn frame
shows the face green, the mouth red and the body blue; the eyes are white
with a yellow iris, so that a blink (the green lid above an eye stretches
over it) and an eye roll (the iris moves within the white) show too.

    mkchar.py --type 4 --out DIR            a sound character of load type 4
    mkchar.py --type 4 --out DIR --damage K a damaged one (see DAMAGES)
    mkchar.py --suite DIR                   DIR/typeN for N = 0..13,
                                            DIR/damaged-K of type 4 for every K
                                            and DIR/damagedT-K for the corpora

Stdlib only, written without looking at the C++ readers, so that a format
mistake is not mirrored on both sides.
"""
import argparse
import os
import struct
import sys

# ---------------------------------------------------------------- tables
# Viseme names per character type (columns 0..9) for the 54 phoneme rows.
VISEMES = [
    (".pau", "NEUT NEUTRAL NEUTRAL NEUTRAL NEUTRAL NEUTRAL Neutral Neutral Nu Nu"),
    ("h", "d d d d t d ih KG k k"), ("9r", "r r r r r r r r r r"),
    ("j", "l E E E l l eh Q i i"), ("dZ", "S S S S S S S S sh sh"),
    ("tS", "S S S S S S S S sh sh"), ("N", "i i i i i i ih KG k k"),
    ("I", "i i i i i I ih I I I"), ("i:", "i i i i i @@@i ih Ea i i"),
    ("E", "E E E E E e eh KG Ai Ai"), ("@", "a a a a a ao ae A Ai Ai"),
    (">", "U w w w U oU ao Er A A"), ("oo", "ao ao ao ao ao ao ao Q A A"),
    ("&", "r r r r r r r Er Ai Ai"), ("@@", "r r r r r r r r Ai Ai"),
    ("U", "U w w w U U u w U U"), ("^", "U U E u U e eh KG Ai Ai"),
    ("u", "w w w w w w u w u u"), ("Z", "S S S S S S S S sh sh"),
    ("S", "S S S S S S S S sh sh"), ("A", "a a a a a ao A A A A"),
    ("l", "l l l l l l r I L L"), ("w", "w u u u w w u w r r"),
    ("d", "d d d d t d s I d d"), ("t", "d d d d t d s I d d"),
    ("n", "E E E E E e n I d d"), ("s", "s s s s s s s sz s s"),
    ("b", "m p p m p m m pbm m m"), ("m", "m m m m m m m pbm m m"),
    ("g", "d d d d t i n KG k k"), ("z", "S S S S S S s sz s s"),
    ("k", "d d d d t i n KG k k"), ("p", "m p p m p m m pbm m m"),
    ("f", "f f f f f f f fv f f"), ("v", "f f f f f f f fv f f"),
    ("&r", "r r r r r r r Er Ai Ai"), ("I_x", "i i i i i i ih Ea i i"),
    ("oU", "E E E E E oU ux Q U U"), ("3r", "r r r r r r r r Ai Ai"),
    ("i@", "i i i i i i ih Ea i i"), ("u@", "w w w w w w ux w u u"),
    ("aU", "a a a a a ao ax A A A"), ("aI", "U a a a u u ae A Ai Ai"),
    ("ei", "E E E E E e eh KG ei ei"), (">i", "U U U u u u ao Q A A"),
    ("D", "T T T T T T D T T T"), ("T", "T T T T T T D T T T"),
    ("iU", "i i i i i i ih Ea i i"), ("e&", "E E E E E e eh KG Ai Ai"),
    ("i&", "i i i i i i ih Ea i i"), ("u&", "w w w w w w u w u u"),
    ("rr", "r r r r r r r r A A"), ("nj", "E E E E E e eh I Ai Ai"),
    ("4r", "r r r r r r r r r r"),
]


def viseme(row, col):
    v = VISEMES[row][1].split()[col]
    return v.replace("@@@", "   ")  # type 5's row 8 is three blanks and "i"


CHAR_PREFIX = ["TAM_", "OB_", "KE_", "DU_", "BX_", "SOR_", "Ven_", "QUI_", "BX_", "BX_"]
VIS_PREFIX = ["VIS_", "VIS_", "KEVIS_", "DUVIS_", "BXVIS_", "Vis_", "Vis_", "Vis_", "Vis_", "Vis_"]

# Slot names 0..21 (slot 6, neutral, goes by the viseme rule).
SLOTS = {
    0: "TAM_SAD OB_SAD KE_SAD DU_SAD BX_SAD SOR_SAD Ven_Sad QUI_Sad BX_Sad",
    1: "TAM_ANGRY OB_ANGRY KE_ANGRY DU_ANGRY BX_ANGRY SOR_ANGRY Ven_Angry QUI_Angry BX_Angry",
    2: "TAM_SMILE OB_SMILE KE_SMILE DU_SMILE BX_SMILE SOR_JOY Ven_Joy QUI_Joy BX_Joy",
    3: "TAM_FEAR OB_FEAR KE_FEAR DU_FEAR BX_FEAR SOR_FEAR Ven_Fear QUI_Fear BX_Fear",
    4: "TAM_DISGUST OB_DISGUST KE_DISGUST DU_DISGUST BX_DISGUST SOR_DIS Ven_Disgust QUI_Disgust BX_Disgust",
    5: "TAM_SPRISE OB_SPRISE KE_SPRISE DU_SPRISE BX_SPRISE SOR_SPRISE Ven_Surprise QUI_Surprise BX_Surprise",
    7: "TAM_BRDN OB_BRUP KE_BRUP DU_BRUP BX_BRZUP SOR_BRZUP Ven_EyeBrowUp QUI_EyeBrowUp BX_EyeBrowUp",
    8: "TAM_BRINUP OB_BRINUP KE_BRINUP DU_BRINUP BX_BRZIN SOR_BRZUP Ven_EyeBorwInUp QUI_EyeBrowInUp BX_EyeBorwInUp",
    9: "TAM_BRINDN OB_BRINDN KE_BRINUP DU_BRINDN BX_BRZDWN SOR_BRZDWN Ven_EyeBrowInDown QUI_EyeBrowInDown BX_EyeBrowInDown",
    10: "TAM_BIGNOSE OB_BIGNOSE KE_BIGNOSE DU_BIGNOSE BX_BIGNOSE SOR_SNORT Ven_NoseSize QUI_NoseSize BX_NoseSize",
    11: "TAM_NOSETRAIL OB_NOSETRAIL KE_NOSETRAIL DU_NOSETRAIL BX_NOSETRAIL SOR_SNORT Ven_NoseTrail QUI_NoseTrail BX_NoseTrail",
    12: "TAM_SNEERR OB_SNEERR KE_SNEERR DU_SNEERR BX_SNEERR SOR_SNEER Ven_SneerR QUI_SneerR BX_SneerR",
    13: "TAM_SNEERL OB_SNEERL KE_SNEERL DU_SNEERL BX_SNEERL SOR_SNEER Ven_SneerL QUI_SneerL BX_SneerL",
    14: "VIS_w VIS_w KEVIS_w DUVIS_w BXVIS_w Vis_w Vis_u Vis_w Vis_u",
    15: "EYZ_UP OB_EYZUP EYZ_UP EYZ_UP BX_EYZUP SOR_EYZUP Ven_EyeUp QUI_EyeUp BX_EyeUp",
    16: "EYZ_DWN OB_EYZDWN EYZ_DWN EYZ_DWN BX_EYZDWN SOR_EYZDWN Ven_EyeDown QUI_EyeDown BX_EyeDown",
    17: "EYZ_LFT OB_EYZLFT EYZ_LFT EYZ_LFT BX_EYZLFT SOR_EYZLFT Ven_EyeLeft QUI_EyeLeft BX_EyeLeft",
    18: "EYZ_RGT OB_EYZRGT EYZ_RGT EYZ_RGT BX_EYZRGT SOR_EYZRGT Ven_EyeRight QUI_EyeRight BX_EyeRight",
    19: "EYZ_SQNT OB_GRIN EYZ_WIDE EYZ_BLINK BX_EYZWIDE SOR_EYZWIDE_ Ven_EyeWide QUI_EyeWide BX_EyeWide",
    20: "EYZ_BLINK OB_BLINK EYZ_BLINK EYZ_BLINK BX_BLINK SOR_BLINK Ven_EyeBlink QUI_Blink BX_EyeBlink",
    21: "VIS_a VIS_a KEVIS_a DUVIS_a BXVIS_a Vis_a Vis_A Vis_A Vis_A",
}


def slot_name(slot, ctype):
    return SLOTS[slot].split()[min(ctype, 8)]


# load type -> (character type, hair, adapted)
LOAD_TYPES = {t: (t, False, False) for t in range(10)}
LOAD_TYPES.update({10: (9, True, True), 11: (9, True, False), 12: (8, True, True), 13: (8, True, False)})

MODEL_FILE = ["Tamsel.GL", "Obrik.GL", "Keffa.GL", "Dunmo.GL", "Bexlo.GL", "Sorla.GL",
              "Venmira.GL", "Quillo.GL", "BexloNew.GL", "BexloNew2.GL"]
IMAGES = [("Tamsel_face.Img", "Tamsel_body.Img"), ("Obrik_face.Img", "Obrik_body.Img"),
          ("Keffa_face.Img", "Keffa_body.Img"), ("Dunmo_face.Img", "Dunmo_body.Img"),
          ("Bexlo.Img", "Bexlo.Img"), ("Sorla.Img", "Sorla.Img"),
          ("Venmira_face.Img", "Venmira_body.Img"), ("Quillo_face.Img", "Quillo_body.Img"),
          ("Bexlo512F.Img", "Bexlo512B.img"), ("Bexlo512F.Img", "Bexlo512B.img")]
TONGUE_TABLE = ["Ttongue.Ge", "Otongue.Ge", "Ktongue.Ge", "Dtongue.Ge", "Btongue.Ge", None,
                "Vetongue.Ge", "Qtongue.Ge", "BNtongue.Ge", "BNtongue.Ge"]
# weld file, head count, body count, head 1-based, body 1-based, hidden-neck file, hidden count
WELD = {0: ("tamselheadbodynew.txt", 12, False, False), 1: ("obrikheadbodynew.txt", 16, True, False),
        3: ("dunmoheadbodynew.txt", 16, False, False), 4: ("bexloheadbody.txt", 12, True, True),
        5: ("sorlaheadbody.txt", 10, True, True), 6: ("venmiraheadbody.txt", 8, False, False),
        7: ("quilloheadbody.txt", 32, True, False), 8: ("bexloheadbodyN.txt", 12, True, True)}
HIDDEN_NECK = {6: ("venmirahidenneck.txt", 13), 7: ("quillohidenneck.txt", 16)}
FACECOM = ["tFaceComponents.bin", "oFaceComponents.bin", "kFaceComponents.bin", "dFaceComponents.bin",
           "bFaceComponents.bin", "sFaceComponents.bin", "VeFaceComponents.bin",
           "QuiFaceComponents.bin", "bNFaceComponents.bin", "bNFaceComponents.bin"]
TEETH = {0: "tTeethMotionIndext.bin", 1: "oTeethMotionIndext.bin", 2: "kTeethMotionIndext.bin",
         3: "dTeethMotionIndext.bin", 4: "bTeethMotionIndext.bin", 8: "bNTeethMotionIndext.bin",
         9: "bNTeethMotionIndext.bin"}
HEADDATA = {0: "tamselhead", 1: "obrikhead", 2: "keffahead", 3: "dunmohead", 4: "bexlohead"}
BODY = {0: ("tamselwholebodynew.dat", "tamselboneindexnew.dat"),
        1: ("obrikwholebodynew.dat", "obrikboneindexnew.dat"),
        2: ("keffawholebodynew.dat", "keffaboneindexnew.dat"),
        3: ("dunmowholebodynew.dat", "dunmoboneindexnew.dat"),
        4: ("bexlowholebody.dat", "bexloboneindexnew.dat"),
        6: ("venmirabodynew.dat", "venmiraboneindexnew.dat"),
        7: ("quillobodynew.dat", "quilloboneindexnew.dat"),
        8: ("bexlowholebodynew.dat", "bexloboneindexnew.dat"),
        9: ("bexlowholebodynew.dat", "bexloboneindexnew.dat")}
NEUTRAL_NODE = {0: "TAM_NEUT", 1: "OB_NEUTRAL", 3: "DU_NEUTRAL", 4: "TAM_NEUT", 8: "TAM_NEUT", 9: "TAM_NEUT"}

# Material that carries the mouth triangles: an untextured part of the type's
# head where it has one, else a textured part (the image's red half then
# colours it).  Type 7 draws no head.
MOUTH_MATERIAL = [1, 2, 1, 1, 6, 1, 1, 2, 1, 1]

POSE_BONES = (["Bip01 Pelvis", "Bip01 Spine", "Bip01 Spine1", "Bip01 Neck", "Bip01 L Clavicle",
               "Bip01 R Clavicle", "Bip01 L UpperArm", "Bip01 L Forearm", "Bip01 L Hand"]
              + ["Bip01 L Finger%d%s" % (f, s) for f in range(5) for s in ("", "1", "2")]
              + ["Bip01 R UpperArm", "Bip01 R Forearm", "Bip01 R Hand"]
              + ["Bip01 R Finger%d%s" % (f, s) for f in range(5) for s in ("", "1", "2")]
              + ["Bip01 L Thigh", "Bip01 L Calf", "Bip01 L Foot", "Bip01 L Toe0",
                 "Bip01 R Thigh", "Bip01 R Calf", "Bip01 R Foot", "Bip01 R Toe0"])
assert len(POSE_BONES) == 50

DAMAGES = ["truncated-model", "bad-face-index", "huge-count", "missing-model", "missing-images",
           "missing-facecom", "short-facecom", "missing-body", "bad-bone-index", "crlf",
           "missing-neutral-pose", "short-tongue"]
# Damaged corpora of the parametric faces, by the load type they spoil.
CORPUS_DAMAGES = {"short-pacom": 8, "bad-twomap": 8, "missing-twomap": 8,
                  "short-beta": 9, "bad-set": 9, "missing-set1": 9, "crlf": 9}

# ---------------------------------------------------------------- geometry
G = 12  # grid cells per side


def grid():
    """Vertices (x, y, z) of a (G+1)^2 grid on x, z in [-1, 1], bulged in y."""
    vs = []
    for j in range(G + 1):
        z = -1.0 + 2.0 * j / G
        for i in range(G + 1):
            x = -1.0 + 2.0 * i / G
            vs.append((x, 0.1 * (x * x + z * z), z))
    return vs


def region(x, z):
    """Region code: 0 border, 1/2 upper face (brows, eyes), 3/4 cheeks and
    nose, 5/6 upper lip, 7/8 lower lip; odd codes for x < 0."""
    side = 0 if x < -1e-6 else 1
    if abs(x) > 0.9 or abs(z) > 0.9:
        return 0
    if abs(x) <= 0.5 and -0.75 <= z <= -0.25:
        return (5 if z >= -0.5 else 7) + side
    if z >= 0.1:
        return 1 + side
    return 3 + side


def is_eye(x, z):
    return 0.1 <= z <= 0.4 and 0.2 <= abs(x) <= 0.7


def eye_part(xs):
    """'iris' for a triangle whose corners are all eye vertices, 'white' for
    one beside it in the eye's rows, else None."""
    if all(is_eye(x, z) for x, _, z in xs):
        return "iris"
    if all(0.16 <= z <= 0.34 and 0.16 <= abs(x) <= 0.84 for x, _, z in xs):
        return "white"
    return None


def texture_index(xs):
    """Index of the texture coordinate of a face triangle (see model_bytes)."""
    if all(region(x, z) >= 5 for x, _, z in xs):
        return 1
    return {"white": 2, "iris": 3}.get(eye_part(xs), 0)


def faces(vs):
    """Two counter-clockwise triangles (seen from -y) per cell, with the
    material: the mouth material when all three corners are in the mouth."""
    out = []
    n = G + 1
    for j in range(G):
        for i in range(G):
            a, b, c, d = j * n + i, j * n + i + 1, (j + 1) * n + i + 1, (j + 1) * n + i
            for tri in ((a, b, c), (a, c, d)):
                out.append(tri)
    return out


def displaced(vs, fn):
    return [fn(i, v) for i, v in enumerate(vs)]


def target_moves(name, ctype):
    """(region set, dx, dy, dz) for the target named name, or None for a
    target equal to the base.  Viseme targets open the mouth by an amount
    that depends on the viseme, closures close it."""
    vp = VIS_PREFIX[ctype]
    neutral = CHAR_PREFIX[ctype] + viseme(0, ctype)
    if name == neutral:
        return None
    if name.startswith(vp) or name in (slot_name(14, ctype), slot_name(21, ctype)):
        entry = name[len(vp):] if name.startswith(vp) else name
        if entry in ("m", "p", "pbm"):
            return ("lips", 0.0, -0.05, 0.08)  # closed: the lower lip rises
        if entry in ("f", "fv"):
            return ("lips", 0.0, -0.05, 0.04)
        # open by a distinct amount per viseme, 0.10 .. 0.34
        k = sum(ord(ch) for ch in entry) % 13
        return ("lips", 0.0, -0.05, -(0.10 + 0.02 * k))
    role = None
    for slot, names in SLOTS.items():
        if name == slot_name(slot, ctype):
            role = slot
            break
    if role is None:
        return None
    table = {
        0: ("corners", 0.0, 0.0, -0.08), 1: ("brows", 0.0, 0.0, -0.06), 2: ("corners", 0.0, 0.0, 0.10),
        3: ("brows", 0.0, 0.0, 0.08), 4: ("nose", 0.0, 0.0, 0.05), 5: ("brows", 0.0, 0.0, 0.12),
        7: ("brows", 0.0, 0.0, 0.10), 8: ("brows", 0.02, 0.0, 0.05), 9: ("brows", 0.02, 0.0, -0.05),
        10: ("nose", 0.05, 0.0, 0.0), 11: ("nose", 0.0, 0.0, -0.03), 12: ("corners", 0.05, 0.0, 0.05),
        13: ("corners", -0.05, 0.0, 0.05), 15: ("eyes", 0.0, 0.0, 0.06), 16: ("eyes", 0.0, 0.0, -0.06),
        17: ("eyes", -0.08, 0.0, 0.0), 18: ("eyes", 0.08, 0.0, 0.0), 19: ("eyes", 0.0, 0.0, 0.02),
        20: ("lids", 0.0, 0.0, -0.16),
    }
    return table.get(role)


def in_group(group, x, z):
    r = region(x, z)
    if group == "lips":
        return r in (7, 8)           # the lower lip moves; the upper stays
    if group == "corners":
        return r in (5, 6, 7, 8) and abs(x) > 0.25
    if group == "brows":
        return r in (1, 2) and z >= 0.45
    if group == "eyes":
        return r in (1, 2) and is_eye(x, z)
    if group == "lids":
        # a blink closes the eye: its upper row comes down onto the lower,
        # the lid above stretches over it
        return r in (1, 2) and is_eye(x, z) and z >= 0.25
    if group == "nose":
        return r in (3, 4) and abs(x) <= 0.2
    return False


def object_names(ctype):
    names = []
    for slot in sorted(SLOTS):
        n = slot_name(slot, ctype)
        if n not in names:
            names.append(n)
    for row in range(54):
        n = (CHAR_PREFIX[ctype] if row == 0 else VIS_PREFIX[ctype]) + viseme(row, ctype)
        if n not in names:
            names.append(n)
    return names


# ---------------------------------------------------------------- writers
def i32(*v):
    return struct.pack("<%di" % len(v), *v)


def f32(*v):
    return struct.pack("<%df" % len(v), *v)


def f64(*v):
    return struct.pack("<%dd" % len(v), *v)


def lpstr(s):
    b = s.encode("latin-1")
    return i32(len(b)) + b


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    mode = "wb" if isinstance(data, (bytes, bytearray)) else "w"
    with open(path, mode, **({} if mode == "wb" else {"newline": ""})) as f:
        f.write(data)


def model_bytes(ctype, vs, tris, names, damage):
    base_names = ["HEAD"] + names
    n = len(base_names)
    m = 18
    out = bytearray()
    out += i32(n if damage != "huge-count" else 0x3fffffff, m)
    for k in range(m):
        diffuse = (0.2, 0.8, 0.2)
        if k == MOUTH_MATERIAL[ctype]:
            diffuse = (1.0, 0.0, 0.0)
        out += f32(0.2, 0.2, 0.2, *diffuse, 0.0, 0.0, 0.0, 0.0)
    out += f32(*([0.0] * 8))
    mouth_mat = MOUTH_MATERIAL[ctype]
    manifest = []
    for oi, name in enumerate(base_names):
        if oi == 0:
            out += lpstr('"HEAD"')  # quotes are dropped when the name is stored
            out += i32(len(vs), len(tris))
            for v in vs:
                out += f32(*v)
            for t, tri in enumerate(tris):
                xs = [vs[c] for c in tri]
                mouth = all(region(x, z) >= 5 for x, _, z in xs)
                a, b, c = tri
                if damage == "bad-face-index" and t == 5:
                    c = len(vs) + 1000
                out += i32(a, b, c, mouth_mat if mouth else 0)
            # texture coordinates: 0 in the green band, 1 in the red band,
            # 2 in the white band, 3 in the iris band
            out += i32(4)
            out += f32(0.25, 0.5, 0.625, 0.5, 0.0625, 0.5, 0.4375, 0.5)
        else:
            mv = target_moves(name, ctype)
            manifest.append((name, mv))
            out += lpstr(name)
            for x, y, z in vs:
                if mv and in_group(mv[0], x, z):
                    out += f32(x + mv[1], y + mv[2], z + mv[3])
                else:
                    out += f32(x, y, z)
        for _ in vs:
            out += f32(0.0, -1.0, 0.0)
    # spot lights in front of the face, pointing at it; cone angles chosen so
    # that each rig's scaled cut-off stays within 90 degrees
    nspots = 4 if ctype == 7 else 2
    a0 = {0: 90.0, 1: 9.0, 2: 90.0, 3: 90.0, 4: 1.8, 5: 60.0, 8: 1.8, 9: 1.8}.get(ctype, 9.0)
    a1 = {0: 90.0, 2: 90.0, 3: 90.0, 5: 60.0}.get(ctype, 9.0)
    for k in range(nspots):
        out += lpstr("Spot%02d" % k)
        c = 1.0 if k == 0 else 0.6  # a grey second light tells the rigs' colours apart
        out += f32(0.0, -10.0, 0.5, 0.0, 0.0, 0.0, c, c, c, 0.0, a0 if k == 0 else a1)
    for k in range({0: 2, 1: 1}.get(ctype, 0)):
        out += lpstr("Omni%02d" % k)
        out += f32(0.0, -10.0, 0.0, 1.0, 1.0, 1.0)
    for tri in tris:
        out += i32(*([texture_index([vs[c] for c in tri])] * 3))
    if damage == "truncated-model":
        out = out[: len(out) // 2]
    return bytes(out), manifest


def image_bytes(w, h, bands):
    """Vertical bands of colour: bands[k] covers u in [k/n, (k+1)/n)."""
    out = bytearray(i32(w, h))
    for _ in range(h):
        for i in range(w):
            r, g, b = bands[i * len(bands) // w]
            out += bytes((b, g, r))
    return bytes(out)


def tongue_mesh():
    """193 vertices in nine bands (64 + 7 x 16 + 17), a small lofted tube."""
    import math
    vs = []
    for k in range(64):
        a = 2 * math.pi * (k % 16) / 16
        ring = k // 16
        vs.append((0.05 * math.cos(a), 0.02 * ring, 0.05 * math.sin(a)))
    for band in range(1, 9):
        cnt = 17 if band == 8 else 16
        for k in range(cnt):
            a = 2 * math.pi * k / cnt
            vs.append((0.08 * math.cos(a), 0.08 + 0.03 * band, 0.08 * math.sin(a)))
    tris = []
    starts = [0, 16, 32, 48] + [64 + 16 * b for b in range(8)]
    for r in range(len(starts) - 1):
        s0, s1 = starts[r], starts[r + 1]
        for k in range(16):
            a, b = s0 + k, s0 + (k + 1) % 16
            c, d = s1 + (k + 1) % 16, s1 + k
            tris.append((a, b, c))
            tris.append((a, c, d))
    assert len(vs) == 193
    return vs, tris


def tongue_ge(damage):
    vs, tris = tongue_mesh()
    if damage == "short-tongue":
        vs = vs[:100]
        tris = [t for t in tris if max(t) < 100]
    out = bytearray(i32(len(vs), len(tris)))
    for v in vs:
        out += f32(*v)
    for t in tris:
        out += i32(*t)
    return bytes(out)


def tongue_table(rows):
    """Row r: translation (0, 0, 1) puts the tongue behind the face; band
    offset 0 carries r / 1000 so that a test can tell the rows apart."""
    out = bytearray()
    for r in range(rows):
        out += f32(0.0, 0.0, 1.0, r / 1000.0, *([0.0] * 8), 1.0, 1.0, 1.0, 1.0, 1.0, 1.0)
    return bytes(out)


def body_bytes(ctype, head_vs, damage):
    """Skeleton of the 50 pose bones plus "Bip01 Head", the neutral head node
    (a copy of the head, so the fit is the identity) and "Obrik BODY", a
    4 x 4 grid below the head facing -y."""
    nodes = []
    parents = {"Bip01 Pelvis": "", "Bip01 Spine": "Bip01 Pelvis", "Bip01 Spine1": "Bip01 Spine",
               "Bip01 Neck": "Bip01 Spine1", "Bip01 Head": "Bip01 Neck"}
    for b in POSE_BONES + ["Bip01 Head"]:
        p = parents.get(b)
        if p is None:
            if "Thigh" in b:
                p = "Bip01 Pelvis"
            elif "Clavicle" in b:
                p = "Bip01 Neck"
            else:
                p = "Bip01 Spine1"
        nodes.append((b, p, (0.0, 0.0, -1.2), [], [], 0))
    nn = NEUTRAL_NODE.get(8 if ctype == 9 else ctype)
    if nn:
        nodes.append((nn, "", (0.0, 0.0, 0.0), list(head_vs), [], 0))
    bv = []
    for j in range(4):
        z = -3.0 + j * (1.8 / 3)
        for i in range(4):
            bv.append((-0.8 + i * (1.6 / 3), -0.3, z))
    bf = []
    for j in range(3):
        for i in range(3):
            a, b, c, d = j * 4 + i, j * 4 + i + 1, (j + 1) * 4 + i + 1, (j + 1) * 4 + i
            bf += [(a, b, c), (a, c, d)]
    nodes.append(("Obrik BODY", "", (0.0, 0.0, 0.0), bv, bf, 4))
    selector = ctype in (0, 1, 2, 3, 4, 8, 9)
    out = bytearray(i32(len(nodes)))
    for name, parent, pivot, vs, fs, nt in nodes:
        out += lpstr(name) + lpstr(parent) + f32(*pivot)
        out += i32(len(vs), len(fs))
        for v in vs:
            out += f32(*v)
        for f in fs:
            out += i32(*f) + (i32(0) if selector else b"")
        out += i32(nt)
        if nt:
            out += f32(*([0.875, 0.5] * 4))
            out += i32(len(fs))
            for f in fs:
                out += i32(0, 1, 2)
        for f in fs:
            for c in f:
                out += i32(c) + f32(0.0, -1.0, 0.0)
    # the grid's right column hangs on the right upper arm, so that arm
    # gestures move it; the rest on the spine
    spine, arm = POSE_BONES.index("Bip01 Spine"), POSE_BONES.index("Bip01 R UpperArm")
    bones = [arm if x > 0.7 else spine for x, y, z in bv]
    bone = i32(*(bones if damage != "bad-bone-index" else [9999] * len(bv)))
    return bytes(out), bone, bv


def pose_text(crlf, raised=False):
    """A neutral pose with small arm angles; the trunk and neck stay at 0 so
    that the head sits where the model puts it.  raised: the right upper arm
    lifted to 80 degrees about z (a gesture for the body tags)."""
    eol = "\r\n" if crlf else "\n"
    angles = {"Bip01 L UpperArm": (5.0, 0.0, -10.0), "Bip01 R UpperArm": (5.0, 0.0, 80.0 if raised else 10.0)}
    lines = ["Body components"]
    for b in POSE_BONES[0:6]:
        lines.append("%s:%f,%f,%f" % ((b,) + angles.get(b, (0.0, 0.0, 0.0))))
    for side, first in (("Left body parts", 6), ("Right body parts", 24)):
        lines.append(side)
        for b in POSE_BONES[first:first + 3]:
            lines.append("%s:%f,%f,%f" % ((b,) + angles.get(b, (0.0, 0.0, 0.0))))
        for f in range(5):
            for s in ("", "1"):
                b = POSE_BONES[first][:-len("UpperArm")] + "Finger%d%s" % (f, s)
                lines.append("%s:%f,%f,%f" % (b, 0.0, 0.0, 0.0))
    lines.append("leg components")
    for b in POSE_BONES[42:50]:
        lines.append("%s:%f,%f,%f" % (b, 0.0, 0.0, 0.0))
    return eol.join(lines) + eol


def make(load_type, out, damage=None):
    ctype, hair, adapted = LOAD_TYPES[load_type]
    M = os.path.join(out, "Models")
    os.makedirs(M, exist_ok=True)
    vs = grid()
    tris = faces(vs)
    names = object_names(ctype)
    model, manifest = model_bytes(ctype, vs, tris, names, damage)
    if damage != "missing-model":
        write(os.path.join(M, MODEL_FILE[ctype]), model)
    if damage != "missing-images":
        face_img, body_img = IMAGES[ctype]
        # face image: white eyes (u < 0.125), green skin, yellow iris
        # (0.375 to 0.5), red mouth (0.5 to 0.75), blue body (u >= 0.75)
        green, red, blue = (0, 255, 0), (255, 0, 0), (0, 0, 255)
        white, iris = (255, 255, 255), (255, 220, 0)
        write(os.path.join(M, face_img), image_bytes(16, 16, [white, green, green, iris, red, red, blue, blue]))
        if body_img != face_img:
            write(os.path.join(M, body_img), image_bytes(8, 8, [blue]))
    if ctype != 5:
        write(os.path.join(M, "Tongue.Ge"), tongue_ge(damage))
        write(os.path.join(M, TONGUE_TABLE[ctype]), tongue_table(51 if ctype in (6, 7) else 54))
    eol = "\r\n" if damage == "crlf" else "\n"
    # weld lists: the head's bottom-row vertices onto the body's top row
    wt = 8 if ctype == 9 else ctype
    if wt in HIDDEN_NECK:
        fn, cnt = HIDDEN_NECK[wt]
        write(os.path.join(M, "welddata", fn), "".join("%d%s" % (i, eol) for i in range(cnt)))
    if wt in WELD:
        fn, cnt, head1, body1 = WELD[wt]
        # bottom-row head vertices nearest the body's top-row corners
        head = [(1, 4, 8, 11)[k % 4] + (1 if head1 else 0) for k in range(cnt)]
        body = [12 + (k % 4) + (1 if body1 else 0) for k in range(cnt)]
        text = "".join("%d%s" % (v, eol) for v in head) + "-" + eol + "".join("%d%s" % (v, eol) for v in body)
        write(os.path.join(M, "welddata", fn), text)
    if ctype == 4:
        write(os.path.join(M, "welddata", "bexloheadhide.txt"),
              "".join("%d%s" % (100000 + k, eol) for k in range(24)))
    # face components: region code, then 15 values (component 4 marks eyes)
    if damage != "missing-facecom":
        fc = bytearray()
        for x, y, z in vs:
            comps = [region(x, z)] + [0] * 15
            comps[4] = 1 if is_eye(x, z) else 0
            fc += i32(*comps)
        if damage == "short-facecom":
            fc = fc[: len(fc) // 3]
        write(os.path.join(M, "FaceCom", FACECOM[ctype]), bytes(fc))
    if ctype in TEETH:
        write(os.path.join(M, "FaceCom", TEETH[ctype]), i32(*([0] * (2 * len(vs)))))
    if ctype in HEADDATA:
        base = HEADDATA[ctype]
        write(os.path.join(M, "headdata", base + ".ind"), i32(len(tris), *range(len(tris))))
        write(os.path.join(M, "headdata", base + "points.ind"), i32(len(vs), *range(len(vs))))
    if ctype in BODY and damage != "missing-body":
        body, bone, _ = body_bytes(ctype, vs, damage)
        write(os.path.join(M, "bodydata", BODY[ctype][0]), body)
        write(os.path.join(M, "boneindex", BODY[ctype][1]), bone)
    if ctype != 5 and damage != "missing-neutral-pose":
        write(os.path.join(M, "obriksign", "neu.ges"), pose_text(damage == "crlf"))
    if ctype != 5:
        for name, text in library_files(eol).items():
            write(os.path.join(out, "Lib", name), text)
        write(os.path.join(M, "obriksign", "wave.ges"), pose_text(damage == "crlf"))
        write(os.path.join(M, "obrikkeyframe", "GREET.sqe"),
              eol.join(["2", "neu.ges", "wave.ges", "500"]) + eol)
        # a lifted arm, its file name in lower case; a sequence without
        # durations (1000 ms apart)
        write(os.path.join(M, "obriksign", "raise.ges"), pose_text(damage == "crlf", raised=True))
        write(os.path.join(M, "obrikkeyframe", "ARMS.sqe"),
              eol.join(["3", "neu.ges", "RAISE.ges", "neu.ges"]) + eol)
    if hair or adapted:
        # vertex map: the outermost columns are hidden; the replacement
        # vertices sit 0.01 nearer the camera than the base
        vmap = [-1 if abs(x) > 0.95 else i for i, (x, y, z) in enumerate(vs)]
        write(os.path.join(M, "gTransa.bin"), i32(len(vmap), *vmap))
        rep = bytearray(i32(len(vs)))
        for x, y, z in vs:
            rep += f32(x, y - 0.01, z)
        write(os.path.join(M, "gVertexn.bin"), bytes(rep))
    if hair:
        write(os.path.join(M, "hairnew2.GL"), hair_text())
    if adapted:
        # every adaptation matrix doubles a target's displacement
        ad = bytearray(i32(len(vs)))
        for _ in vs:
            ad += f32(2, 0, 0, 0, 2, 0, 0, 0, 2)
        write(os.path.join(M, "gAdapt.bin"), bytes(ad))
        bz = bytearray(i32(len(vs)))
        for x, y, z in vs:
            bz += f32(x, y, z - (0.2 if is_eye(x, z) else 0.0))
        write(os.path.join(M, "gVertexz.bin"), bytes(bz))
    if ctype == 8:
        write(os.path.join(M, "AlphaN.bin"), basis(15, vs))
        twomap, pacom = context_files(damage)
        if damage != "missing-twomap":
            write(os.path.join(M, "twomap.txt"), twomap)
        write(os.path.join(M, "PacomN.bin"), pacom)
    if ctype == 9:
        write(os.path.join(M, "AlphaN2.bin"), basis(38, vs))
        s1, s2, beta = corpus_files(damage)
        if damage != "missing-set1":
            write(os.path.join(M, "Set1.txt"), s1)
        write(os.path.join(M, "Set2.txt"), s2)
        write(os.path.join(M, "Beta.bin"), beta)
    lines = ["# object dx dy dz group (targets that differ from the base)"]
    for name, mv in manifest:
        if mv:
            lines.append("{%s} %g %g %g %s" % (name, mv[1], mv[2], mv[3], mv[0]))
    lines.append("# vertices %d triangles %d objects %d" % (len(vs), len(tris), len(names) + 1))
    write(os.path.join(out, "manifest.txt"), "\n".join(lines) + "\n")


def library_files(eol):
    """Expression, tongue and head libraries and a few gesture and sequence
    files for the markup.  Names a tag must find are in capitals; one
    gesture file name is in lower case, found all the same."""
    def para(**set_):
        v = [0] * 44
        v[2] = 50                      # eyelids at rest
        for g in range(38, 44):
            v[g] = 1                   # every area gate open
        for k, x in set_.items():
            v[int(k[1:])] = x
        return v
    para_lib = [("NEUT", para()), ("SMILE", para(L34=50)), ("EYEBROWUP", para(L1=60)), ("Sad", para(L32=50))]
    text = {"Para.lib": "".join("%s %s%s" % (n, " ".join(map(str, v)), eol) for n, v in para_lib)}
    # OUT brings the tongue's body out in front of the mouth: lower by the
    # band offsets, nearer the camera by the depth offsets
    tongue = [("TIP", [130] * 9 + [100] * 9 + [100] * 6), ("back", [100] * 9 + [70] * 9 + [100] * 6),
              ("OUT", [30] * 9 + [230] * 9 + [100] * 6)]
    # the tongue library is written with broken lines: tokens carry the format
    text["TonguePara.lib"] = "".join("%s %s%s%s%s" % (n, " ".join(map(str, v[:10])), eol, " ".join(map(str, v[10:])), eol)
                                     for n, v in tongue)
    text["Head.lib"] = "NOD 110 90 90" + eol + "TILT 90 90 120" + eol
    return text


def hair_text():
    """A strip of hair above the head, facing -y, as the text mesh format."""
    pts = []
    for j in range(2):
        for i in range(5):
            pts.append((-1.0 + 0.5 * i, -0.15, 1.0 + 0.4 * j))
    tris = []
    for i in range(4):
        a, b, c, d = i, i + 1, 5 + i + 1, 5 + i
        tris += [(a, b, c), (a, c, d)]
    lines = ["%d %d" % (len(pts), len(tris))]
    lines += ["%d %f %f %f" % ((k,) + p) for k, p in enumerate(pts)]
    lines += ["%d %d %d %d 0 0 0 0 0" % ((k,) + t) for k, t in enumerate(tris)]
    lines += ["%d 0.0 -1.0 0.0" % k for k in range(len(pts))]
    return "\n".join(lines) + "\n"


def basis(blocks, vs):
    """Block 0 opens the mouth (the lower lip drops 0.3), block 1 narrows it
    (the corners move 0.15 inward), block 2 closes it (the lower lip rises
    0.08); the other blocks move nothing."""
    out = bytearray()
    for k in range(blocks):
        for x, y, z in vs:
            r = region(x, z)
            d = (0.0, 0.0, 0.0)
            if k == 0 and r in (7, 8):
                d = (0.0, 0.0, -0.3)
            elif k == 1 and r in (5, 6, 7, 8) and abs(x) > 0.25:
                d = (-0.15 if x > 0 else 0.15, 0.0, 0.0)
            elif k == 2 and r in (7, 8):
                d = (0.0, 0.0, 0.08)
            out += f64(*d)
    return bytes(out)


# Mouth shape (open, narrow, closed) of the 17 context classes of type 8:
# r A Ai d ei I i k L m s sh T U f u Nu (Nu, the pause, is the rest shape).
CONTEXT_SHAPES = [(0.3, 0.2, 0), (1.0, 0, 0), (0.9, 0, 0), (0.2, 0, 0), (0.6, 0, 0), (0.5, 0, 0),
                  (0.4, 0, 0), (0.3, 0, 0), (0.3, 0, 0), (0.0, 1.0, 1.0), (0.1, 0, 0), (0.2, 0.3, 0),
                  (0.2, 0, 0), (0.5, 0.5, 0), (0.0, 0, 0.5), (0.3, 0.8, 0), (0.0, 0, 0)]
MISSING_PAIR = (12, 12)   # T T: the one pair the map lacks
DECOY_PAIR = (9, 1)       # m A: listed twice, the first with a wrong record


def context_record(c1, c2, decoy=False):
    """Five irregular marks with the boundary at 20: the first class's shape
    up to mark 7, the second's from mark 26; coefficients 3 to 14 ramp with
    the mark so that interpolation shows."""
    marks = [0.0, 7.0, 20.0, 26.0, 40.0]
    a, b = CONTEXT_SHAPES[c1], CONTEXT_SHAPES[c2]
    out = i32(len(marks)) + f32(20.0) + f32(*marks)
    for j, m in enumerate(marks):
        shape = a if j < 2 else b if j > 2 else tuple((p + q) / 2 for p, q in zip(a, b))
        if decoy:
            shape = (5.0, 5.0, 5.0)
        ramp = [(c1 * 17 + c2 + 1) / 289.0 * m / 40.0 + 0.01 * k for k in range(12)]
        out += f64(*(list(shape) + ramp))
    return out


def context_files(damage):
    pairs = [(a, b) for a in range(17) for b in range(17) if (a, b) != MISSING_PAIR]
    pairs.insert(0, DECOY_PAIR)
    lines, recs = [], bytearray()
    for i, (a, b) in enumerate(pairs):
        lines.append("%d %d %d" % (i, a, b))
        recs += context_record(a, b, decoy=(i == 0))
    if damage == "short-pacom":
        recs = recs[: len(recs) // 2]
    if damage == "bad-twomap":
        lines[5] = "5 3 99"
    return "\n".join(lines) + "\n", bytes(recs)


# Mouth shape by reduced code of the 38-parameter face.
CODE_SHAPES = {":": (0.4, 0, 0), "w": (0.2, 0.8, 0), "u": (0.3, 0.8, 0), "r": (0.3, 0.2, 0), "*": (0.5, 0.5, 0),
               "$": (0.6, 0, 0), "a": (1.0, 0, 0), "7": (0.9, 0, 0), "6": (0.2, 0, 0), "4": (0.2, 0.3, 0),
               "k": (0.3, 0, 0), "l": (0.3, 0, 0), "s": (0.1, 0, 0), "d": (0.2, 0, 0), "q": (0.7, 0.3, 0),
               "v": (0.0, 0, 0.5), "m": (0.0, 1.0, 1.0), "i": (0.4, 0, 0), "@": (0.8, 0, 0), ".": (0.0, 0, 0)}
CODES = ":wur*o$&%^e9ya87654321khg+lszdtnq>vfmbpix@."
REDUCED = ":wur**$$$$$$$aa7664444kkkklssdddqqvvmmmii@."
MERGED = ":wur*o$&%^e9ya87664321khg+lssdtnq>vvmmmix@."


def corpus_entries():
    """1274 code strings: decoys first (a reduced match whose merged form
    differs; a longer and an equal-length rival of the best entry), then
    every pair of reduced codes, then single-code fillers that match no
    window.  Entry 2 is the one ".mama." must use."""
    reps = ":wur*$a764klsdqvmi@."
    entries = ["m8", ".mama.mama.", ".mama.", ".mama.", "m@m", "@m@"]
    entries += [a + b for a in reps for b in reps]
    while len(entries) < 1274:
        entries.append("@")
    return entries


def corpus_files(damage):
    P = 38
    set1, set2, beta = [], [], bytearray()
    for k, codes in enumerate(corpus_entries()):
        red = "".join(REDUCED[CODES.index(c)] for c in codes)
        mer = "".join(MERGED[CODES.index(c)] for c in codes)
        set1.append("%d %s" % (k, red))
        set2.append("%d %s" % (k, mer))
        m = len(codes)
        n = 4 * m + 1
        beta += i32(n, 7, m) + f32(*[4.0 * j for j in range(m + 1)])
        for i in range(n):
            shape = CODE_SHAPES[red[min(i // 4, m - 1)]]
            if k == 0:
                shape = (5.0, 5.0, 5.0)
            vals = list(shape) + [i / 100.0, k / 1000.0] + [0.0] * (P - 5)
            beta += f32(float(i), *vals)
    eol = "\r\n" if damage == "crlf" else "\n"
    if damage == "short-beta":
        beta = beta[: len(beta) - 100]
    if damage == "bad-set":
        set2[3] = "3 .mZma."
    return eol.join(set1) + eol, eol.join(set2) + eol, bytes(beta)


def main():
    global G
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--type", type=int, choices=range(14))
    ap.add_argument("--out")
    ap.add_argument("--damage", choices=sorted(set(DAMAGES) | set(CORPUS_DAMAGES)))
    ap.add_argument("--suite", help="make the whole test set under this directory")
    ap.add_argument("--grid", type=int, default=G, help="grid cells per side of the head (default %d)" % G)
    a = ap.parse_args()
    G = max(4, a.grid)
    if a.suite:
        import shutil
        for t in range(14):
            shutil.rmtree(os.path.join(a.suite, "type%d" % t), ignore_errors=True)
            make(t, os.path.join(a.suite, "type%d" % t))
        for d in DAMAGES:
            shutil.rmtree(os.path.join(a.suite, "damaged-" + d), ignore_errors=True)
            make(4, os.path.join(a.suite, "damaged-" + d), d)
        for d, t in CORPUS_DAMAGES.items():
            name = "damaged%d-%s" % (t, d)
            shutil.rmtree(os.path.join(a.suite, name), ignore_errors=True)
            make(t, os.path.join(a.suite, name), d)
        return 0
    if a.type is None or not a.out:
        ap.error("--type and --out are required without --suite")
    make(a.type, a.out, a.damage)


if __name__ == "__main__":
    sys.exit(main())
