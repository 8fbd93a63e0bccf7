' The control from VBScript: arguments come by reference and small numbers are 16-bit.
Dim c, path, missing, zero, one
Set c = CreateObject("TARNWICK.TarnwickCtrl.1")
path = FIXTURE & "\hello.txt"
missing = FIXTURE & "\missing.txt"

Eq c.GetLocalFileSize(path), CLng(5), "a path held in a variable arrives by reference; the result is a Long"
Eq c.GetLocalFileSize((path)), CLng(5), "and by value"
Eq c.GetLocalFileSize(missing), CLng(-1), "missing file"
Dim text
text = c.GetLastErrorInfo()
Eq Left(text, Len(missing) + 2), "[" & missing & "]", "missing-file text names the path"
Eq Len(text), Len(missing) + 2 + 5, "followed by the five characters of the not-found text"
Eq c.GetLocalFileHeadSigned(FIXTURE & "\head.bin"), "000102030405060708090A0B0C0D0E", "hex head"

' 16-bit integers for the Z flag are widened; any non-zero value acts as 1.
zero = 0 : one = 1
Eq TypeName(one), "Integer", "VBScript's small numbers are 16-bit"
Dim sha, sm3a, sm3b
sha = c.GetLocalFileSHA256(path)
Eq sha, "2CF24DBA5FB0A30E26E83B2AC5B9E29E1B161E5C1FA7425E73043362938B9824", "SHA-256 of hello"
sm3a = c.GetLocalFileSM3(path, zero, "")
Eq sm3a, "BECBBFAAE6548B8BF0CFCAD5A27183CD1BE6093B1CCECCC303D9C61D0A645268", "SM3 of hello"
Eq c.GetLocalFileSM3(path, one, ""), "", "Z flag 1 without a certificate"
Eq c.GetLocalFileSM3(path, CLng(0), ""), sm3a, "a 32-bit zero as well"

' VBScript arrays are memory files: each element converts as a script array element does.
Dim arr, number, buf, i, zipped, grid
Const SHA_ABC = "B5D4045C3F466FA91FE2CC6ABE79232A1A57CDF104F7A26E716E0A1E2789DF78"
arr = Array(65, 66, 67)
Eq c.GetMemFileSize(arr), CLng(3), "a VBScript array held in a variable (by reference)"
Eq c.GetMemFileSize((arr)), CLng(3), "and by value"
Eq c.GetMemFileSHA256(arr), SHA_ABC, "SHA-256 of ABC from Array()"
Eq c.GetMemFileSHA256(Array(321, -190, "67")), SHA_ABC, "low 8 bits, numeric text counts as its number"
Eq c.GetMemFileSM3(arr, 0, ""), "BD33CDBD47F7DB9222E39D0FB765BE0B9B06E034813E427E3B3ECA80AC3AE636", "SM3 of ABC"
ReDim buf(40)
For i = 0 To 40 : buf(i) = 120 : Next
Eq c.GetMemFileHeadSigned(buf, "txt"), "STRING", "a ReDim array probes as text"
zipped = c.CreateZipFromMemFile(buf, "vbscript_mem.txt")
Ok Len(zipped) > 0, "a 41-byte ReDim array is packed: " & Esc(c.GetLastErrorInfo())
If Len(zipped) > 0 Then Eq c.DeleteFileFromCreateZip(zipped), CLng(0), "and its archive deleted"
buf(3) = "x"
Eq c.GetMemFileSHA256(buf), "", "an element that is no number is refused"
Eq c.GetLastErrorInfo(), "JSArrayGetAt's Invoke 3 err!", "with the element's text"
ReDim grid(1, 1)
Eq c.GetMemFileSize(grid), CLng(-1), "a two-dimensional array is refused"
' The expected text comes as UTF-16 from the fixture (Wine's VBScript has no ChrW).
text = CreateObject("Scripting.FileSystemObject").OpenTextFile(FIXTURE & "\dims.txt", 1, False, -1).ReadAll()
Eq Right(c.GetLastErrorInfo(), Len(text)), text, "with a text naming its dimensions and element type"
Eq c.GetMemFileSize(Array()), CLng(0), "an empty array has size 0"
On Error Resume Next
Err.Clear
number = c.GetLocalFileSize()
Ok Err.Number <> 0, "a missing argument is refused"
Err.Clear
On Error GoTo 0
