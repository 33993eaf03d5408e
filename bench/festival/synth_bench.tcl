# Synthesises 50 sentences with the kal voice through the Festival package
# and through `festival -b`, and prints the ratio of the synthesis times.
#
# With the argument "instructions" both sides run under callgrind instead
# (10 sentences): instruction counts are what a busy machine cannot blur.
#
# The program's time is its best run with the sentences less its best run
# without them, so both sides count synthesis only, not start-up. Rounds
# alternate and the best of each counts, to keep machine noise out.
package require Festival

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
set full [file join $dir synth50.scm]
set empty [file join $dir synth0.scm]
set f [open $full w]
puts $f "(voice_kal_diphone)"
foreach s $sentences { puts $f "(utt.synth (Utterance Text \"$s\"))" }
close $f
set f [open $empty w]
puts $f "(voice_kal_diphone)"
close $f

# Times are processor time (user + system) in microseconds: the machine is
# shared, and waiting for a processor is not the synthesiser's cost.
proc cpuTimes {} {
    set f [open /proc/self/stat]
    set fields [split [lindex [split [read $f] )] 1]]
    close $f
    # utime, stime, and the same for waited-for children, in ticks of 1/100 s
    lmap i {12 13 14 15} { lindex $fields $i }
}

proc cpuNow {} { lassign [cpuTimes] u s; expr {($u + $s) * 10000} }
proc childCpuNow {} { lassign [cpuTimes] - - cu cs; expr {($cu + $cs) * 10000} }

proc programTime {script} {
    set t0 [childCpuNow]
    exec festival -b $script
    expr {[childCpuNow] - $t0}
}

# Instructions of one process under callgrind.
proc instructions {args} {
    set out [exec valgrind --tool=callgrind --callgrind-out-file=/dev/null {*}$args 2>@1]
    regexp {Collected : ([0-9]+)} $out -> n
    return $n
}

if {[lindex $argv 0] eq "instructions"} {
    set ten [file join $dir synth10.scm]
    set f [open $ten w]
    puts $f "(voice_kal_diphone)"
    foreach s [lrange $sentences 0 9] { puts $f "(utt.synth (Utterance Text \"$s\"))" }
    close $f
    set drive [file join $dir drive.tcl]
    set f [open $drive w]
    puts $f {package require Festival; festivalInit; festival {(voice_kal_diphone)}}
    puts $f {foreach s [lrange $argv 1 end] { festival "(begin (utt.synth (Utterance Text \"$s\")) nil)" }}
    close $f
    set prog [expr {[instructions festival -b $ten] - [instructions festival -b $empty]}]
    set pkg [expr {[instructions [info nameofexecutable] $drive x {*}[lrange $sentences 0 9]] -
                   [instructions [info nameofexecutable] $drive x]}]
    set ratio [expr {double($pkg) / $prog}]
    puts [format "10 sentences: package %d, festival -b %d instructions, ratio %.4f (overhead %+.2f%%)" \
        $pkg $prog $ratio [expr {($ratio - 1) * 100}]]
    exit
}

festivalInit
festival {(voice_kal_diphone)}
proc packageTime {} {
    set t0 [cpuNow]
    foreach s $::sentences {
        festival "(begin (utt.synth (Utterance Text \"$s\")) nil)"
    }
    expr {[cpuNow] - $t0}
}

array set best {pkg Inf full Inf empty Inf}
packageTime  ;# warm caches on both sides once
programTime $full
for {set round 0} {$round < 7} {incr round} {
    set best(pkg) [expr {min($best(pkg), [packageTime])}]
    set best(full) [expr {min($best(full), [programTime $full])}]
    set best(empty) [expr {min($best(empty), [programTime $empty])}]
}
set best(prog) [expr {$best(full) - $best(empty)}]
set ratio [expr {double($best(pkg)) / $best(prog)}]
puts [format "50 sentences: package %.3f s, festival -b %.3f s, ratio %.3f (overhead %+.1f%%)" \
    [expr {$best(pkg) / 1e6}] [expr {$best(prog) / 1e6}] $ratio [expr {($ratio - 1) * 100}]]
