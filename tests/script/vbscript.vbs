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

' Script objects: VBScript arrays are not dispatch objects.
Dim arr, number
arr = Array(65, 66, 67)
On Error Resume Next
number = c.GetMemFileSize(arr)
Ok Err.Number <> 0, "a VBScript array is refused by the dispatch layer as a type mismatch"
Err.Clear
number = c.GetLocalFileSize()
Ok Err.Number <> 0, "a missing argument is refused"
Err.Clear
On Error GoTo 0
