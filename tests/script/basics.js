// The road through all three modules, as a page takes it right after installation: the control
// made by its ProgID, SHA-256 by the control, SM3 by the crypto engine of the control's own
// architecture loaded from the control's directory, and an archive by the zip companion.
// Also run against the controls an MSI installed (tests/packaging/test-msi.sh).
var ABC = [0x61, 0x62, 0x63];
var c = newControl();
eq(c.GetMemFileSize(ABC), 3, "a memory file's size");
eq(c.GetMemFileSHA256(ABC), "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD",
   "SHA-256 of abc");
eq(c.GetMemFileSM3(ABC, 0, ""), "66C7F0F462EEEDD9D1F2D46BDC10E4E24167C4875CF2F7A2297DA02B8F4BA8E0",
   "SM3 of abc: " + ENGINE + " loads from the control's directory");
var text = [];
for (var i = 0; i < 300; i++) text.push(0x41 + i % 26);
var zip = c.CreateZipFromMemFile(text, "basics.txt");
ok(zip != "", "the zip companion packs a memory file: " + esc(c.GetLastErrorInfo()));
ok(fso.FileExists(zip), "the archive exists");
eq(c.DeleteFileFromCreateZip(zip), 0, "and is deleted on request");
eq(c.GetLastErrorInfo(), "", "no failure on the way");
c = null;
