# Synthesises 50 sentences with the kal voice through the Festival package
# and through `festival -b`, and prints the ratio of the two costs.
#
# Both sides run as fresh processes, once with the sentences and once
# without, and the difference counts: synthesis only, no start-up. The
# package side is a Tcl script that sends each sentence through the
# `festival` command; the program side reads the same Lisp from a file.
#
#   synth_bench.tcl               processor time (user + system), best of 5
#                                 alternating rounds
#   synth_bench.tcl instructions  instructions counted by callgrind, which a
#                                 busy machine cannot blur (takes minutes)
set sentences {}
set words {the a small quick synthesiser voice speaks reads every word of this
    sentence clearly and then stops for breath before another short line begins}
expr {srand(7)}
for {set i 0} {$i < 50} {incr i} {
    set s {}
    for {set j 0} {$j < 8 + $i % 5} {incr j} {
        lappend s [lindex $words [expr {int(rand() * [llength $words])}]]
    }
    lappend sentences "[string totitle [join $s]]."
}

set dir [pwd]
proc writeFile {name text} {
    set f [open [file join $::dir $name] w]
    puts -nonewline $f $text
    close $f
    file join $::dir $name
}
set lines "(voice_kal_diphone)\n"
foreach s $sentences { append lines "(utt.synth (Utterance Text \"$s\"))\n" }
set full [writeFile synth50.scm $lines]
set empty [writeFile synth0.scm "(voice_kal_diphone)\n"]
set drive [writeFile drive.tcl {
    package require Festival
    festivalInit
    set f [open [lindex $argv 0]]
    foreach line [split [read $f] \n] {
        if {$line ne ""} { festival "(begin $line nil)" }
    }
    close $f
}]
set tclsh [info nameofexecutable]

proc childCpu {} {
    set f [open /proc/self/stat]
    set fields [split [lindex [split [read $f] )] 1]]
    close $f
    # processor time of waited-for children, user + system, in 1/100 s
    expr {([lindex $fields 14] + [lindex $fields 15]) * 10000}
}

proc cost {args} {
    if {$::mode eq "instructions"} {
        set out [exec valgrind --tool=callgrind --callgrind-out-file=/dev/null {*}$args 2>@1]
        regexp {Collected : ([0-9]+)} $out -> n
        return $n
    }
    set t0 [childCpu]
    exec {*}$args
    expr {[childCpu] - $t0}
}

set mode [expr {[lindex $argv 0] eq "instructions" ? "instructions" : "time"}]
set runs [dict create \
    pkg50 [list $tclsh $drive $full] pkg0 [list $tclsh $drive $empty] \
    prog50 [list festival -b $full] prog0 [list festival -b $empty]]
set rounds [expr {$mode eq "instructions" ? 1 : 5}]
foreach k [dict keys $runs] { set best($k) Inf }
for {set r 0} {$r < $rounds} {incr r} {
    dict for {k cmd} $runs { set best($k) [expr {min($best($k), [cost {*}$cmd])}] }
}
set pkg [expr {$best(pkg50) - $best(pkg0)}]
set prog [expr {$best(prog50) - $best(prog0)}]
set ratio [expr {double($pkg) / $prog}]
if {$mode eq "instructions"} {
    puts [format "50 sentences: package %d, festival -b %d instructions, ratio %.4f (overhead %+.2f%%)" \
        $pkg $prog $ratio [expr {($ratio - 1) * 100}]]
} else {
    puts [format "50 sentences: package %.2f s, festival -b %.2f s of processor time, ratio %.3f (overhead %+.1f%%)" \
        [expr {$pkg / 1e6}] [expr {$prog / 1e6}] $ratio [expr {($ratio - 1) * 100}]]
}
