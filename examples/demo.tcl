# The demo application: one whole spoken-language turn on a machine without
# a sound card or a display. The user's words are parsed, the answer is
# synthesised with an echo, the speech in it is found and written as a WAV
# file, played on the virtual sound device, and the talking face says it
# offscreen.
#
#   make demo            (or: build/bin/tovik examples/demo.tcl ?WORDS?)
#
# Leaves demo_reply.wav (the answer) and demo_face.ppm (the face with its
# mouth widest) in the current folder.

set here [file dirname [file normalize [info script]]]
set root [file dirname $here]
set heard [expr {[llength $argv] > 0 ? [join $argv] : "uh i want to fly to um new york"}]

# Scratch files (grammar copy, character, what the device played) go to a
# folder of this run, removed at the end.
set tmp [file join [expr {[info exists env(TMPDIR)] ? $env(TMPDIR) : "/tmp"}] tovik-demo-[pid]]
file delete -force $tmp
file mkdir $tmp

# No sound card: the virtual device plays into a file.
set env(TOVIK_AUDIO) virtual
set env(TOVIK_AUDIO_OUT) [file join $tmp played.raw]

proc step {what} { puts "-- $what" }
proc say {args} { puts "   [join $args]" }

# ---- the turn --------------------------------------------------------------
package require Thing 1.0

# A dialogue turn is an object: it keeps what was heard, how it parsed and
# what it answers.
Thing create Turn
Turn method init {words} {
    $thing var heard parse reply
    set heard $words
    set parse ""
    set reply ""
}
Turn method heard {} { $thing var heard; return $heard }
Turn method parsed {text} { $thing var parse; set parse $text }
Turn method answer {text} { $thing var reply; set reply $text }
Turn method reply {} { $thing var reply; return $reply }
Turn method report {} {
    $thing var heard parse reply
    return "heard \"$heard\", understood $parse, answered \"$reply\""
}

Turn create turn $heard
step "heard: \"[turn heard]\""

# ---- understanding: the robust parser over a small flights grammar ---------
# (examples/grammar: a request with a [city] net; the parser skips the
# words it does not know.) It compiles into files beside the grammar, so it
# works on a copy.
package require Quorlet
set grammars [file join $here grammar]
set gdir [file join $tmp grammar]
file mkdir $gdir
foreach g [glob [file join $grammars *.gra]] { file copy $g $gdir }
set home [pwd]
cd $gdir
rp init flights.gra
set parse [rp parse tcl 1 string [turn heard]]
rp uninit
cd $home
turn parsed $parse
step "parsed: [expr {$parse eq "" ? "(nothing the grammar knows)" : $parse}]"

# The city is what the city net matched: its words, or the code that the
# grammar gives a city (said as the city's name).
set cityCodes {BOS Boston}
if {[regexp {city:\[([^\]]*)\]} $parse -> city]} {
    set city [join [lmap w [split $city ,] {
        expr {[dict exists $cityCodes $w] ? [dict get $cityCodes $w] : [string totitle $w]}
    }]]
    turn answer "Which day do you want to fly to $city?"
} else {
    turn answer "Where do you want to fly?"
}
say "answer: \"[turn reply]\""

# ---- speaking: synthesis with an echo, taken over as a wave -----------------
step "synthesising"
package require Festival
festivalInit
festival {(voice_kal_diphone)}
# The wave package offers `import` only when `festival` exists as it loads.
package require Wave

set text [string map {\" ' \\ /} [turn reply]]
festival "(begin (set! demo_utt (utt.synth (Utterance Text \"$text\"))) nil)"
# The phonemes of the answer, each with its end time in seconds.
set segments [festival {(apply string-append
    (mapcar (lambda (s) (format nil "%s %.3f " (item.name s) (item.feat s 'end)))
            (utt.relation.items demo_utt 'Segment)))}]
say "[expr {[llength $segments] / 2}] phonemes: [lmap {p e} $segments {set p}]"
festival {(Vekeffect.init '((effect_order (echo)) (echo ((dtime 1600) (feedback 0.4)))))}
festival {(begin (Vekeffect demo_utt) nil)}
say "echo added"
set spoken [wave import {*}[festival {(tovik.wave.info demo_utt)}]]
lassign [wave info -samples -rate $spoken] samples rate
say "wave $spoken: $samples samples at $rate Hz ([format %.2f [expr {$samples / $rate}]] s)"

# ---- the speech in it, written as a WAV file --------------------------------
step "finding the speech"
lassign [wave chopsil $spoken] speech from to
if {$speech eq ""} {
    say "no speech found: the whole wave is kept"
    set speech $spoken
} else {
    say "speech from $from ms to $to ms (with its padding): $speech"
}
set wav [file join [pwd] demo_reply.wav]
wave write -riff $speech $wav
say "written: $wav ([file size $wav] bytes)"

# ---- playing on the virtual sound device ------------------------------------
step "playing"
package require Pelvane
set played 0
set device [Winaudio outopen 0 [expr {int($rate)}] 1 {set ::played 1}]
set t0 [clock milliseconds]
Winaudio write $device $speech
# The done script runs when the device closes after the last buffer.
set guard [after 20000 {set ::played timeout}]
vwait ::played
after cancel $guard
if {$played ne "1"} {
    error "the sound device did not finish playing"
}
set playedSamples [expr {[file size $env(TOVIK_AUDIO_OUT)] / 2}]
set written [lindex [wave info -samples $speech] 0]
say "device done after [expr {[clock milliseconds] - $t0}] ms; it played $playedSamples of $written samples"
if {$playedSamples != $written} {
    error "the sound device played $playedSamples samples of $written"
}

# ---- the talking face, offscreen -------------------------------------------
step "drawing the face"
set chardir [file join $tmp character]
exec python3 [file join $root tools mkchar mkchar.py] --type 4 --out $chardir
package require Brovana
set W 96
set H 96
Brovana create face -width $W -height $H -offscreen
face load 4 $chardir
face setViewport 0 0 $W $H
face setPerspective 30 1 1 100
face viewpoint 0 -8 -0.6 0 0 -0.6
face reset

# Festival's phones are lower-case ARPAbet; the face takes worldbet symbols.
set worldbet {
    aa A ae @ ah ^ ao > aw aU ax & axr &r ay aI b b ch tS d d dh D eh E er 3r
    ey ei f f g g hh h ih I ix I_x iy i: jh dZ k k l l m m n n ng N ow oU
    oy >i p p r 9r s s sh S t t th T uh U uw u v v w w y j z z zh Z pau .pau
}
set last 0.0
foreach {p end} $segments {
    set sym [expr {[dict exists $worldbet $p] ? [dict get $worldbet $p] : ".pau"}]
    face add $sym [expr {$end - $last}] 0 0
    set last $end
}
face prep
set duration [lindex [face getvars] 1]
set frames [expr {int($duration / (1000.0 / 30)) + 1}]

# The mouth is drawn red: the frame with the most red shows it widest.
proc redPixels {bytes} {
    binary scan $bytes cu* px
    set red 0
    foreach {r g b} $px {
        if {$r > 80 && $r > 2 * $g + 20 && $r > 2 * $b + 20} { incr red }
    }
    return $red
}
face show
set rest [redPixels [face snapshot]]
set widest -1
set widestFrame 0
for {set n 0} {$n < $frames} {incr n} {
    face showFrame $n
    set red [redPixels [face snapshot]]
    if {$red > $widest} {
        set widest $red
        set widestFrame $n
        set picture [face snapshot]
    }
}
say "$frames frames for [format %.0f $duration] ms at 30 frames a second"
say "mouth at rest: $rest red pixels; widest at frame $widestFrame: $widest"
if {$widest <= $rest} {
    error "the face did not open its mouth"
}
set ppm [file join [pwd] demo_face.ppm]
set f [open $ppm wb]
puts -nonewline $f "P6\n$W $H\n255\n"
# Frames are read bottom row first; an image file starts at the top.
for {set y [expr {$H - 1}]} {$y >= 0} {incr y -1} {
    puts -nonewline $f [string range $picture [expr {$y * $W * 3}] [expr {($y + 1) * $W * 3 - 1}]]
}
close $f
say "written: $ppm"
rename face {}

step "turn complete: [turn report]"
turn destroy
file delete -force $tmp
