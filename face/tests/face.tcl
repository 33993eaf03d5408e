# Tests of the face package, run offscreen and in a window ($::faceOptions
# says which).  Frames are read back and checked for what should be where:
# the generated characters draw the face green, the mouth red, the body blue,
# the eyes white with a yellow iris; the tongue is flesh-coloured.
package require Brovana 1.2.0

set chars $::env(FACE_CHARS)
set W 160
set H 160

# Counts the pixels of frame bytes by colour, finds the lowest red row and
# the middle of the iris pixels (ix iy; -1 -1 when there are none).
proc frameStats {bytes} {
    global W H
    binary scan $bytes cu* px
    set red 0; set green 0; set blue 0; set low -1; set left $W; set right -1
    set white 0; set iris 0; set tongue 0; set sx 0; set sy 0
    set i 0
    for {set y 0} {$y < $H} {incr y} {
        for {set x 0} {$x < $W} {incr x} {
            set r [lindex $px $i]; set g [lindex $px [expr {$i+1}]]; set b [lindex $px [expr {$i+2}]]
            incr i 3
            if {$r > 80 && $r > 2*$g+20 && $r > 2*$b+20} {
                incr red; set low $y
                if {$x < $left} {set left $x}
                if {$x > $right} {set right $x}
            } \
            elseif {$g > 80 && $g > 2*$r+20 && $g > 2*$b+20} {incr green} \
            elseif {$b > 80 && $b > 2*$r+20 && $b > 2*$g+20} {incr blue} \
            elseif {$r > 180 && $g > 180 && $b > 180 && $b >= 0.85*$r} {incr white} \
            elseif {$r > 80 && $g > 80 && $b < $g/3} {incr iris; incr sx $x; incr sy $y} \
            elseif {$r > 120 && $g > 0.3*$r && $b > 0.2*$r} {incr tongue}
        }
    }
    set ix -1; set iy -1
    if {$iris} {set ix [expr {double($sx)/$iris}]; set iy [expr {double($sy)/$iris}]}
    dict create red $red green $green blue $blue low $low width [expr {$right - $left + 1}] \
        white $white iris $iris ix $ix iy $iy tongue $tongue
}

# Speaks ".pau m A m A .pau" (0.3 s each) and reads back the rest pose, the
# frames at the middle of the first "m" and "A", and the rest after the end.
proc speakMama {name} {
    $name show
    set rest [frameStats [$name snapshot]]
    $name swapbuffers
    $name reset
    foreach {p w} {.pau {} m mama A {} m {} A {} .pau {}} {
        $name add $p 0.3 0 0 $w
    }
    $name prep
    set F [expr {int([lindex [$name getvars] 1] / (1000.0 / 30) + 1)}]
    set frames {}
    for {set n 0} {$n < $F - 1} {incr n} {
        $name showFrame $n
        lappend frames [frameStats [$name snapshot]]
        $name swapbuffers
    }
    $name showFrame $F
    $name show
    list $rest [lindex $frames [expr {int(450 / (1000.0/30))}]] \
        [lindex $frames [expr {int(750 / (1000.0/30))}]] [frameStats [$name snapshot]]
}

proc newFace {name} {
    global W H chars
    Brovana create $name -width $W -height $H {*}$::faceOptions
    $name load 4 [file join $chars type4]
    view $name
}

# Every load makes a new engine: the view is set after it.
proc view {name} {
    global W H
    $name setViewport 0 0 $W $H
    $name setPerspective 30 1 1 100
    $name viewpoint 0 -8 -0.6 0 0 -0.6
    return $name
}

test face-1.1 {the class and its methods before a character is loaded} -body {
    Brovana create f -width 32 -height 32 {*}$::faceOptions
    list [catch {f getvars} m1] $m1 [catch {f showFrame 0} m2] [f embed any words at all]
} -cleanup {
    rename f {}
} -result {1 {no character loaded: "f load" comes first} 1 {}}

test face-1.2 {the object draws offscreen or in a window, as asked} -body {
    Brovana create f -width 32 -height 32 {*}$::faceOptions
    list [f offscreen] [f size]
} -cleanup {
    rename f {}
} -result [list [expr {"-offscreen" in $::faceOptions}] {32 32}]

test face-1.3 {getvars on a fresh engine and after setframerate} -body {
    newFace f
    set a [f getvars]
    f setframerate 25
    list $a [f getvars]
} -cleanup {
    rename f {}
} -result {{duration 0.000000 framerate 30.0} {duration 0.000000 framerate 25.0}}

test face-1.4 {argument words are checked by the templates} -body {
    newFace f
    set r {}
    foreach m {reset show prep getvars idleanimate} {
        lappend r [catch {f $m extra} msg] $msg
    }
    list {*}$r [catch {f showFrame}] [catch {f add m}] [catch {f add m 0.1 0 0 word phrase -bogus}]
} -cleanup {
    rename f {}
} -result {1 {wrong # args: should be "f reset"} 1 {wrong # args: should be "f show"}\
    1 {wrong # args: should be "f prep"} 1 {wrong # args: should be "f getvars"}\
    1 {wrong # args: should be "f idleanimate"} 1 1 1}

test face-1.5 {a package-index builder (package unknown answering dummy) gets only the class} -setup {
    set i [interp create]
} -body {
    $i eval [list apply {{lib} {
        package require O
        package unknown dummy
        load $lib Brovana
        list [package provide Brovana] [info commands Brovana] [package provide OpenGL]
    }} [file join $::env(TOVIK_BUILD) lib tcl brovana libbrovana.so]]
} -cleanup {
    interp delete $i
} -result {1.2.0 Brovana {}}

test face-2.1 {a missing model fails the load with an empty result, and the face stays usable} -body {
    newFace f
    set r [list [catch {f load 4 [file join $chars damaged-missing-model]} m] $m]
    lappend r [catch {f show} m] $m
    f reload 4 [file join $chars type4]
    view f
    f show
    lappend r [dict get [frameStats [f snapshot]] red]
} -cleanup {
    rename f {}
} -match glob -result {1 {} 1 {no character loaded in "f"} [1-9]*}

test face-2.2 {damaged characters and unknown types give clear messages} -body {
    newFace f
    set r {}
    foreach {type dir} {4 damaged-truncated-model 4 damaged-bad-face-index 14 type4 -1 type4} {
        catch {f load $type [file join $chars $dir]} m
        lappend r $m
    }
    set r
} -cleanup {
    rename f {}
} -match glob -result {{damaged model file "*Bexlo.GL": *} {damaged model file *: face vertex index out of range} {unknown character type 14: expected 0 to 13} {unknown character type -1: *}}

test face-2.3 {bad durations are refused; phonemes not in the table show as rest} -body {
    newFace f
    f reset
    set r [list [catch {f add A -0.1 0 0} m] $m]
    f add xyz 0.2 0 0 word
    f add A 0.2 0 0
    f prep
    # one word of two phonemes gets 1 ms end entries
    lappend r [lindex [f getvars] 1]
} -cleanup {
    rename f {}
} -result {1 {bad duration "-0.1": expected 0 to 3600 seconds} 402.000000}

test face-3.1 {an utterance plays frame by frame: the mouth moves when the phonemes say, and rests at the end} -body {
    newFace f
    f show
    set rest [frameStats [f snapshot]]
    f swapbuffers
    f reset
    foreach {p d w} {.pau 0.3 {} m 0.3 mama A 0.3 {} m 0.3 {} A 0.3 {} .pau 0.3 {}} {
        f add $p $d 0 0 $w
    }
    f prep
    set vars [f getvars]
    set F [expr {int([lindex $vars 1] / (1000.0 / 30) + 1)}]
    set frames {}
    for {set n 0} {$n < $F - 1} {incr n} {
        f showFrame $n
        lappend frames [frameStats [f snapshot]]
        f swapbuffers
    }
    # frames at the middle of each A and m
    set open1 [lindex $frames [expr {int(750 / (1000.0/30))}]]
    set open2 [lindex $frames [expr {int(1350 / (1000.0/30))}]]
    set shut1 [lindex $frames [expr {int(450 / (1000.0/30))}]]
    f showFrame $F
    f show
    set end [frameStats [f snapshot]]
    list $vars \
        [expr {[dict get $open1 low] > [dict get $rest low] + 2}] \
        [expr {[dict get $open2 low] > [dict get $rest low] + 2}] \
        [expr {[dict get $shut1 red] < [dict get $rest red]}] \
        [expr {abs([dict get $end red] - [dict get $rest red]) <= 2}] \
        [expr {[dict get $end low] == [dict get $rest low]}] \
        [expr {[dict get $end green] > 500 && [dict get $end blue] > 50}]
} -cleanup {
    rename f {}
} -result {{duration 1800.000000 framerate 30.0} 1 1 1 1 1 1}

test face-3.2 {frame numbers out of range draw nothing and leave the rest pose} -body {
    newFace f
    f reset
    f add A 0.5 0 0 a
    f prep
    f showFrame 5
    set mid [frameStats [f snapshot]]
    f showFrame -3
    f showFrame 100000
    f show
    set after [frameStats [f snapshot]]
    expr {[dict get $after low] < [dict get $mid low]}
} -cleanup {
    rename f {}
} -result 1

test face-3.3 {an empty utterance prepares zero frames} -body {
    newFace f
    f reset
    f prep
    f showFrame 0
    f getvars
} -cleanup {
    rename f {}
} -result {duration 0.000000 framerate 30.0}

test face-3.4 {the parametric mouths of types 8 and 9 speak from their corpora} -body {
    set r {}
    foreach type {8 9} {
        Brovana create f -width $W -height $H {*}$::faceOptions
        f load $type [file join $chars type$type]
        view f
        lassign [speakMama f] rest m a end
        lappend r $type \
            [expr {[dict get $a low] > [dict get $rest low] + 2}] \
            [expr {[dict get $m red] < [dict get $rest red]}] \
            [expr {[dict get $m width] < [dict get $rest width]}] \
            [expr {[dict get $end red] == [dict get $rest red] && [dict get $end low] == [dict get $rest low]}]
        rename f {}
    }
    set r
} -result {8 1 1 1 1 9 1 1 1 1}

test face-3.5 {a damaged corpus fails the load with its name, and the face stays usable} -body {
    newFace f
    set r {}
    foreach {type dir} {8 damaged8-short-pacom 9 damaged9-missing-set1} {
        lappend r [catch {f load $type [file join $chars $dir]} m] $m
    }
    f load 9 [file join $chars type9]
    lappend r [catch {f show}]
} -cleanup {
    rename f {}
} -match glob -result {1 {damaged contexts "*PacomN.bin": *} 1 {cannot open phoneme set "*Set1.txt"} 0}

# Offsets of the k-th "<" and ">" of a text (k from 0).
proc tagAt {text k} {
    set lt -1; set gt -1
    for {set i 0} {$i <= $k} {incr i} {
        set lt [string first < $text [expr {$lt + 1}]]
        set gt [string first > $text [expr {$gt + 1}]]
    }
    list $lt $gt
}

# "Hello big world" as phonemes, each word's text on its first phoneme.
proc sayHelloBigWorld {name} {
    $name reset
    foreach {p w} {.pau {} h Hello E {} l {} oU {} b big I {} g {} w world 3r {} l {} d {} .pau {}} {
        $name add $p 0.12 0 0 $w
    }
}

test face-6.1 {plaintext drops the tags, and what the filter drops} -setup {
    package require BrovanaMarkup 1.0
    Brovana create f -width 8 -height 8 {*}$::faceOptions
} -body {
    set r {}
    foreach text {
        "Hello <FET=SMILE> big <HGT=Y,2,500> world"
        "don't stop-here.Now"
        "caf\u00e9 <FET=SMILE>ok"
    } {
        lappend r [f plaintext [subst $text]]
    }
    lappend r [catch {f plaintext "a <b"} m] $m
} -cleanup {
    rename f {}
} -result {{Hello  big  world} {dont stophere. Now} {caf ok} 1 {< 2 3}}

test face-6.2 {markup answers each bad tag with its message and its own offsets} -setup {
    package require BrovanaMarkup 1.0
    newFace f
} -body {
    set r {}
    foreach {text k msg} {
        "Hello <FET=SMILE> big <HGT=Y,2,500> world" - {}
        "<FET=SMILE> Hello big world" - {}
        "Hello <STRESS> big <BEGIN> world" - {}
        "Hello <FET=GRIN> big world" 0 FET
        "Hello <EYEB=2,x> big world" 0 "EYEB (?,*,*) ?must be R(r),L(l),B(b)"
        "Hello <EYEB=-2,R> big world" 0 EYEB
        "Hello <EYEM=1,2,A,Q> big world" 0 "EYEM, Choices (*,*,*,?)set must be R(r),L(l),B(b)"
        "Hello <EYEM=1,2,X,B> big world" 0 "EYEM, Choices(*,*,?,*) set must be A(a),C(c)"
        "Hello <EYEM=-1,2,A,B> big world" 0 EYEM
        "Hello <TON=TIP> big world" 0 "TON(*,*) ?must be B(b),N(n)"
        "Hello <TON=TIP,-1> big world" 0 TON
        "Hello <TON=NOPE,2> big world" 0 "TON(?,*,*) ?must be B(b),N(n)"
        "Hello <TON=TIP,2> big <TON=back,1> world" - {}
        "Hello <HGT=X,3,500> big <HGT=10,-5,3> world <HGT=nod>" - {}
        "Hello <HGT=X,0,500> big world" 0 "HGT=***,or (*,*,*) ***must be in the library"
        "Hello <HGT=Y,99999999,500> big world" 0 "HGT=***,or (*,*,*) ***must be in the library"
        "Hello <POST=WAVE> big <BODY=greet,800> world <END=GREET>" - {}
        "Hello <POST=JUMP> big world" 0 "Macro must be in the lib"
        "Hello <BODY=GREET,-3> big world" 0 BODY
        "Hello <EYEB=2,R> big <FET=GRIN> world" 1 FET
        "Hello <EYEB=2,R> big <EYEB=1,B> world <EYEB=1,Z>" 2 "EYEB (?,*,*) ?must be R(r),L(l),B(b)"
        "<FET=SMILE><FET=Sad> Hello big world" 1 "only one tag may come before the first word"
        "Hello <FETTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTT=X> big world" 0 "tag too long"
        "Hello <FET=SMILEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEE> big world" 0 "FET value too long"
        "Hello <big world" lt <
    } {
        sayHelloBigWorld f
        set code [catch {f markup $text} m]
        switch -- $k {
            - {set want [list 0 {}]}
            lt {set at [string first < $text]; set want [list 1 [list $msg $at [expr {$at + 1}]]]}
            default {set want [list 1 [list $msg {*}[tagAt $text $k]]]}
        }
        if {[list $code $m] ne $want} {lappend r $text [list $code $m]}
    }
    sayHelloBigWorld f
    lappend r [catch {f markup "Hello big"} m] $m
    sayHelloBigWorld f
    lappend r [catch {f markup "Hello [string repeat x 130] world"} m] [lindex $m 0]
    # offsets count characters, not bytes
    sayHelloBigWorld f
    lappend r [catch {f markup "H\u00e9llo <FET=GRIN> big world"} m] $m
} -cleanup {
    rename f {}
} -result {1 {{error in word count} -1 -1} 1 {word too long} 1 {FET 6 15}}

test face-6.3 {after a markup error the utterance still plays; markup needs a character} -setup {
    package require BrovanaMarkup 1.0
    newFace f
    Brovana create g -width 8 -height 8 {*}$::faceOptions
} -body {
    sayHelloBigWorld f
    catch {f markup "Hello <FET=GRIN> big world"}
    f showFrame 10
    set s [frameStats [f snapshot]]
    list [lindex [f getvars] 1] [expr {[dict get $s red] > 0}] [catch {g markup "a"} m] $m
} -cleanup {
    rename f {}
    rename g {}
} -result {1560.000000 1 1 {no character loaded in "g"}}

# Snapshots of frames 5, 20 and 29 of "Hello big world", prepared by the
# script's words: prep, or markup with the given text.
proc helloFrames {name how} {
    sayHelloBigWorld $name
    if {$how eq "prep"} {$name prep} else {$name markup $how}
    set r {}
    foreach n {5 20 29} {
        $name showFrame $n
        lappend r [$name snapshot]
        $name swapbuffers
    }
    set r
}

test face-6.4 {tags play at the ends of their words: the smile after "Hello", the nod after "big"; prep drops them} -setup {
    package require BrovanaMarkup 1.0
    newFace f
} -body {
    lassign [helloFrames f prep] p5 p20 p29
    lassign [helloFrames f "Hello <FET=SMILE> big world"] s5 s20 s29
    lassign [helloFrames f "Hello big <HGT=Y,2,500> world"] n5 n20 n29
    lassign [helloFrames f prep] a5 a20 a29
    set smile20 [frameStats $s20]
    set plain20 [frameStats $p20]
    list [expr {$s20 ne $p20}] [expr {[dict get $smile20 red] != [dict get $plain20 red]}] \
        [expr {$n29 ne $p29}] \
        [expr {$a5 eq $p5 && $a20 eq $p20 && $a29 eq $p29}]
} -cleanup {
    rename f {}
} -result {1 1 1 1}

# Frame stats of "Hello big world" at the given frames, prepared by prep or
# markup with the given text.
proc statsAt {name how frames} {
    sayHelloBigWorld $name
    if {$how eq "prep"} {$name prep} else {$name markup $how}
    set r {}
    foreach n $frames {
        $name showFrame $n
        lappend r [frameStats [$name snapshot]]
        $name swapbuffers
    }
    set r
}

# Largest minus smallest value of key over a list of frame stats.
proc spread {stats key} {
    set v [lmap s $stats {dict get $s $key}]
    expr {[tcl::mathfunc::max {*}$v] - [tcl::mathfunc::min {*}$v]}
}

test face-6.6 {blinks, eye rolls and the tongue show at the tagged word's end; prep drops them} -setup {
    package require BrovanaMarkup 1.0
    newFace f
} -body {
    # "Hello" ends at 600 ms: frame 18
    set frames {18 20 22 24 26 28 30 32}
    set plain [statsAt f prep $frames]
    set p18 [lindex $plain 0]
    set r {}
    # the lid comes down over both eyes: the iris goes, and most of the white
    lassign [statsAt f "Hello <EYEB=3,B> big world" 18] blink
    lappend r [expr {[dict get $p18 iris] > 50 && [dict get $blink iris] == 0}] \
        [expr {[dict get $blink white] < [dict get $p18 white] / 2}] \
        [expr {[dict get $blink green] > [dict get $p18 green]}]
    # the iris runs round within the white, and holds still without the tag
    set roll [statsAt f "Hello <EYEM=100,2,A,B> big world" $frames]
    lappend r [expr {[spread $roll ix] >= 1.5 && [spread $roll iy] >= 2}] \
        [expr {[spread $plain ix] == 0 && [spread $plain iy] == 0}]
    # the tongue comes out in front of the mouth
    lassign [statsAt f "Hello <TON=OUT,3> big world" 18] ton
    lappend r [expr {[dict get $ton tongue] > 10 && [dict get $p18 tongue] == 0}] \
        [expr {[dict get $ton red] < [dict get $p18 red]}]
    # prep drops all three
    lassign [statsAt f prep 18] again
    lappend r [expr {$again eq $p18}]
} -cleanup {
    rename f {}
} -result {1 1 1 1 1 1 1 1}

test face-6.5 {arm gestures show at the tagged word's end; prep drops them} -setup {
    package require BrovanaMarkup 1.0
    newFace f
} -body {
    # "Hello" ends at 600 ms: frame 18; the sequence raises the arm at 850 ms
    proc at {name how n} {
        sayHelloBigWorld $name
        if {$how eq "prep"} {$name prep} else {$name markup $how}
        $name showFrame $n
        set s [$name snapshot]
        $name swapbuffers
        set s
    }
    set r {}
    foreach {n text} {
        18 "Hello <POST=RAISE> big world"
        25 "Hello <BODY=ARMS,500> big world"
    } {
        set plain [at f prep $n]
        set tagged [at f $text $n]
        set again [at f prep $n]
        lappend r [expr {$tagged ne $plain}] [expr {$again eq $plain}]
    }
    set r
} -cleanup {
    rename f {}
    rename at {}
} -result {1 1 1 1}

test face-4.1 {parameters show a smile: the mouth corners rise} -body {
    newFace f
    f show
    set rest [frameStats [f snapshot]]
    f parameters 0 0 1 0 0 0
    f show
    set smile [frameStats [f snapshot]]
    expr {[dict get $smile red] != [dict get $rest red]}
} -cleanup {
    rename f {}
} -result 1

test face-4.2 {switches, idle motion and display modes take their words} -body {
    newFace f
    f eyeblink 5
    f pupil 0
    f expression 1
    f headrotate 0
    f headrotate 0
    f alpha 0.5
    f alpha 1.0
    f displayMode 1
    f displayMode 3
    f displayMode 0
    for {set i 0} {$i < 5} {incr i} { f idleanimate }
    dict get [frameStats [f snapshot]] green
} -cleanup {
    rename f {}
} -match regexp -result {^[1-9][0-9]+$}

test face-4.3 {two faces draw each into its own context} -body {
    newFace f1
    Brovana create f2 -width 32 -height 16 {*}$::faceOptions
    f2 load 5 [file join $chars type5]
    f2 setViewport 0 0 32 16
    f2 setPerspective 30 2 1 100
    f2 viewpoint 0 -8 0 0 0 0
    f1 show
    f2 show
    set s1 [frameStats [f1 snapshot]]
    list [string length [f2 snapshot]] [expr {[dict get $s1 red] > 50 && [dict get $s1 blue] > 50}]
} -cleanup {
    rename f1 {}
    rename f2 {}
} -result {1536 1}

test face-4.4 {a second load replaces the engine, and deleting the object releases it} -body {
    newFace f
    f load 5 [file join $chars type5]
    f load 4 [file join $chars type4]
    rename f {}
    info commands f
} -result {}
