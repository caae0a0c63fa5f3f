#!/bin/bash
# Makes the Word 97 and Excel 97 documents the compound-document preview
# tests read, and manifest_ole.txt with the words put into them.
# Needs LibreOffice (soffice); no root.
set -euo pipefail
cd "$(dirname "$0")"
. ./office_lib.sh
office_workspace
manifest=manifest_ole.txt
: > "$manifest"

# doc: two paragraphs, a tab between two words, and Chinese text.
cat > "$work/in/words.html" <<'HTML'
<html><head><meta charset="utf-8"></head><body>
<p>Kestrel alpha paragraph</p>
<p>tabbed&#9;word second bravo</p>
<p>中文恢复测试</p>
</body></html>
HTML
echo "doc words.doc: Kestrel alpha paragraph | tabbed word second bravo | 中文恢复测试" >> "$manifest"

# xls: sheets "A" and "B", one string cell each ("x" on A, "y" on B).
cat > "$work/in/sheets.fods" <<'FODS'
<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.spreadsheet">
 <office:body><office:spreadsheet>
  <table:table table:name="A"><table:table-row><table:table-cell office:value-type="string"><text:p>x</text:p></table:table-cell></table:table-row></table:table>
  <table:table table:name="B"><table:table-row><table:table-cell office:value-type="string"><text:p>y</text:p></table:table-cell></table:table-row></table:table>
 </office:spreadsheet></office:body>
</office:document>
FODS
echo "xls sheets.xls: A | B | x | y" >> "$manifest"

soffice --headless --convert-to doc:"MS Word 97" --outdir "$work/out" "$work/in/words.html" > /dev/null 2>&1
soffice --headless --convert-to xls:"MS Excel 97" --outdir "$work/out" "$work/in/sheets.fods" > /dev/null 2>&1
cp "$work/out/words.doc" "$work/out/sheets.xls" .
for f in words.doc sheets.xls; do
    printf '%s\t%s\t%s\n' "$f" "$(stat -c %s "$f")" "$(sha256sum < "$f" | cut -d' ' -f1)" >> "$manifest"
done
