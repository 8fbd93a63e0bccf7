' Tiny test harness for VBScript suites: Ok/Eq checks, a summary line, a non-zero exit when
' anything failed. Output stays ASCII: other characters are written as \uXXXX escapes.
Option Explicit
Dim passed, failed, FIXTURE, BIN
passed = 0 : failed = 0
FIXTURE = WScript.Arguments(0) : BIN = WScript.Arguments(1)

Function Esc(s)
    Dim i, ch, out
    out = ""
    For i = 1 To Len(s)
        ch = Asc(Mid(s, i, 1))
        If ch < 32 Or ch > 126 Then
            out = out & "\x" & Hex(ch)
        Else
            out = out & Mid(s, i, 1)
        End If
    Next
    Esc = out
End Function

Sub Ok(cond, msg)
    If cond Then
        passed = passed + 1
    Else
        failed = failed + 1
        WScript.Echo "FAIL: " & Esc(msg)
    End If
End Sub

Sub Eq(actual, expected, msg)
    Dim same
    same = (TypeName(actual) = TypeName(expected))
    If same Then same = (actual = expected)
    Call Ok(same, msg & ": expected [" & Esc(CStr(expected)) & "] got [" & Esc(CStr(actual)) & "]")
End Sub

Sub Finish
    WScript.Echo passed & " passed, " & failed & " failed"
    If failed > 0 Then WScript.Quit 1
    WScript.Quit 0
End Sub
