# Speaks a sentence into a WAV file: synthesis with the kal voice, an echo,
# a beep inserted, and the result taken over as a wave object and written.
#
#   tclsh speak.tcl ?TEXT? ?OUT.wav?      (or: source it and call speak)
package require Festival

# Synthesises text into the utterance speak_utt with an echo and a beep and,
# when the wave package is there, writes it to out. Answers the samples and
# rate of the result.
proc speak {text out} {
    if {[info commands festival] eq ""} {
        festivalInit
        festival {(voice_kal_diphone)}
    }
    # The wave package offers `import` only when `festival` exists as it loads.
    set haveWave [expr {![catch {package require Wave}]}]

    # A quarter second of 880 Hz at 8 kHz; the synthesiser converts it to the
    # voice's rate when it inserts it.
    set beep [file join [file dirname [file normalize $out]] speak_beep.wav]
    set samples {}
    for {set i 0} {$i < 2000} {incr i} {
        lappend samples [expr {int(8000 * sin(2 * 3.14159265 * 880 * $i / 8000.0))}]
    }
    set data [binary format s* $samples]
    set f [open $beep wb]
    puts -nonewline $f [binary format a4ia4a4issiissa4i RIFF [expr {36 + [string length $data]}] WAVE \
        "fmt " 16 1 1 8000 16000 2 16 data [string length $data]]
    puts -nonewline $f $data
    close $f

    festival "(begin (set! speak_utt (utt.synth (Utterance Text \"[string map {\" ' \\ /} $text]\"))) nil)"
    festival {(Vekeffect.init '((effect_order (echo)) (echo ((dtime 1600) (feedback 0.4)))))}
    festival {(begin (Vekeffect speak_utt) nil)}
    festival "(utt.wave.insert speak_utt \"$beep\" 0.3)"
    file delete $beep

    set info [festival {(tovik.wave.info speak_utt)}]
    if {!$haveWave} {
        return [lrange $info 1 2]
    }
    set w [wave import {*}$info]
    wave write -riff $w $out
    wave info -samples -rate $w
}

if {[info exists argv0] && [file tail $argv0] eq [file tail [info script]]} {
    set text [expr {[llength $argv] > 0 ? [lindex $argv 0] : "Hello, this is the synthesiser speaking."}]
    set out [expr {[llength $argv] > 1 ? [lindex $argv 1] : "speak.wav"}]
    puts "$out: [speak $text $out]"
}
