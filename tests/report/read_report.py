#!/usr/bin/python3
# Reads a generated report with readers that are not the program's own (python-docx, openpyxl)
# and prints what they see as JSON, for the report tests to compare with what was written.
import json
import sys

path = sys.argv[1]
if path.endswith('.docx'):
    import docx
    from docx.oxml.ns import qn
    document = docx.Document(path)
    out = {'paragraphs': [p.text for p in document.paragraphs], 'tables': []}
    for table in document.tables:
        rows = []
        for row in table.rows:
            cells = []
            for cell in row.cells:
                props = cell._tc.tcPr
                shading = props.find(qn('w:shd')) if props is not None else None
                cells.append({'text': cell.text,
                              'fill': shading.get(qn('w:fill')) if shading is not None else None})
            rows.append(cells)
        runs = [r for p in table.rows[1].cells[0].paragraphs for r in p.runs] if len(table.rows) > 1 else []
        out['tables'].append({
            'style': table.style.name if table.style is not None else None,
            'rows': rows,
            'widths': [int(c.get(qn('w:w'))) for c in table._tbl.tblGrid.findall(qn('w:gridCol'))],
            'font': runs[0].font.name if runs else None,
            'size': runs[0].font.size.pt if runs and runs[0].font.size else None,
        })
    out['footer'] = [p.text for s in document.sections for p in s.footer.paragraphs]
    out['alltext'] = ''.join(t.text or '' for t in document.element.body.iter(qn('w:t')))
else:
    import openpyxl
    book = openpyxl.load_workbook(path)
    out = {'sheets': []}
    for sheet in book.worksheets:
        cells = {}
        for row in sheet.iter_rows():
            for cell in row:
                solid = cell.fill is not None and cell.fill.fill_type == 'solid'
                if cell.value is None and not solid:
                    continue
                cells[cell.coordinate] = {'value': None if cell.value is None else str(cell.value),
                                          'fill': cell.fill.fgColor.rgb if solid else None}
        area = sheet.print_area
        if isinstance(area, (list, tuple)):
            area = ','.join(area)
        out['sheets'].append({'name': sheet.title, 'cells': cells,
                              'merged': sorted(str(m) for m in sheet.merged_cells.ranges),
                              'max_row': sheet.max_row, 'print_area': area,
                              'footer': sheet.oddFooter.center.text})
print(json.dumps(out, ensure_ascii=False))
