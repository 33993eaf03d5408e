# Shared fixtures of the Morph tests: small meshes as Tcl lists, JPEGs made
# by PIL, and read-back pixels.

set ::pil [expr {![catch {exec env -u LD_PRELOAD /usr/bin/python3 -c {import PIL}}]}]
tcltest::testConstraint pil $::pil

# A material entry: emissive colour only, or lit with diffuse and ambient.
proc emissive {r g b {texture {}} {start 0} {count 2}} {
    list m {0 0 0 1} {0 0 0 1} {0 0 0 1} [list $r $g $b 1] 1 $texture $start $count
}
proc lit {{texture {}} {start 0} {count 2}} {
    list m {1 1 1 1} {1 1 1 1} {0 0 0 1} {0 0 0 1} 1 $texture $start $count
}

# A square of side 2s centred on (cx, cy) in the z = 0 plane, as four
# vertices; two counter-clockwise triangles face the camera on +z.
proc square {s {cx 0} {cy 0}} {
    list [list [expr {$cx-$s}] [expr {$cy-$s}] 0] [list [expr {$cx+$s}] [expr {$cy-$s}] 0] \
        [list [expr {$cx+$s}] [expr {$cy+$s}] 0] [list [expr {$cx-$s}] [expr {$cy+$s}] 0]
}
set ::faces {{0 1 2} {0 2 3}}
set ::uv {{0 1} {1 1} {1 0} {0 0}}

# A square object with an optional target "up" that lifts it by dy.
proc quad {win material {side 1} {dy 3}} {
    set base [square $side]
    set up {}
    foreach v $base { lappend up [list [lindex $v 0] [expr {[lindex $v 1]+$dy}] 0] }
    $win objcreate q [list $material] $::uv $::faces [list [list base $base] [list up $up]]
}

# A one-colour JPEG of size w x h from PIL, mode RGB (fill "(r, g, b)")
# or L (fill a grey level).
proc jpeg {path w h mode fill} {
    exec env -u LD_PRELOAD /usr/bin/python3 -c [string map [list @P $path @W $w @H $h @M $mode @F $fill] {
from PIL import Image
Image.new("@M", (@W, @H), @F).save("@P", quality=98)
}]
}
# A JPEG with a red, green, blue and white quarter (top left, top right,
# bottom left, bottom right).
proc quadsjpeg {path w h} {
    exec env -u LD_PRELOAD /usr/bin/python3 -c [string map [list @P $path @W $w @H $h] {
from PIL import Image, ImageDraw
im = Image.new("RGB", (@W, @H))
d = ImageDraw.Draw(im)
w, h = @W, @H
d.rectangle([0, 0, w//2-1, h//2-1], fill=(255, 0, 0))
d.rectangle([w//2, 0, w-1, h//2-1], fill=(0, 255, 0))
d.rectangle([0, h//2, w//2-1, h-1], fill=(0, 0, 255))
d.rectangle([w//2, h//2, w-1, h-1], fill=(255, 255, 255))
im.save("@P", quality=98, subsampling=0)
}]
}

# The {r g b} at x y of a read-back frame of width w.
proc pixel {frame w x y} {
    binary scan $frame @[expr {($y*$w+$x)*3}]cu3 p
    return $p
}
proc near {a b {tol 3}} {
    foreach x $a y $b { if {abs($x-$y) > $tol} { return 0 } }
    return 1
}

# A window (or offscreen context) of n x n pixels looking at the origin
# from z = 5, and a scene with perspective set.
proc view {win n scene} {
    $win setup
    $win shape 0 0 $n $n
    $win perspective 30 1 1 20 $scene
    $win viewpoint 0 0 5 0 0 0
}
