# Shared by the display-widget tests: waves made from samples, espeak-ng
# speech, and the window read back as pixels.
package require Tk
package require Wave 1.0
package require Lyre 1.0
package require img::window
wm geometry . +0+0

# A wave holding exactly these samples.
proc mkwave {samples {rate 8000}} {
    set f [file tempfile path]
    fconfigure $f -translation binary
    puts -nonewline $f [binary format s* $samples]
    flush $f
    seek $f 0
    set w [wave readpipe -linear -maxsize [expr {max(1, [llength $samples])}] -rate $rate $f]
    close $f
    file delete $path
    return $w
}

# The pixels of a shown window as rows of {r g b}.
proc grab {win} {
    update
    set img [image create photo -format window -data $win]
    set rows [$img data -format ppm]
    set out {}
    set w [image width $img]
    set h [image height $img]
    for {set y 0} {$y < $h} {incr y} {
        set row {}
        for {set x 0} {$x < $w} {incr x} {
            lappend row [$img get $x $y]
        }
        lappend out $row
    }
    image delete $img
    return $out
}

proc pixel {rows x y} { lindex $rows $y $x }
proc isInk {rgb} { expr {[lindex $rgb 0] < 128 && [lindex $rgb 1] < 128 && [lindex $rgb 2] < 128} }

# Rows where column x is ink.
proc inkRows {rows x} {
    set out {}
    set y 0
    foreach row $rows {
        if {[isInk [lindex $row $x]]} { lappend out $y }
        incr y
    }
    return $out
}

set haveEspeak [expr {![catch {exec env -u LD_PRELOAD espeak-ng --version}]}]
::tcltest::testConstraint espeak $haveEspeak

# A spoken sentence as a wave, with its samples.
proc speech {text} {
    set path [file join [tcltest::temporaryDirectory] speech[pid].wav]
    exec env -u LD_PRELOAD espeak-ng -w $path $text
    set w [wave read $path]
    file delete $path
    return $w
}

# A scroll command that keeps the last fractions in ::sb.
proc keepFractions {args} { set ::sb $args }
