# Writes the memo table of the peer tests with python3-dbf into a folder: pd3.dbf, a dBASE III
# table in code page 850 with the fields ID N 5 and NOTE M and five records, the fifth
# without a memo.
#   write_memos_dbf.py <folder>
import os
import sys

import dbf

values = ['abc', 'x' * 600, 'line one\r\nline two', 'Gr\u00fc\u00dfe', '']
table = dbf.Table(os.path.join(sys.argv[1], 'pd3'), 'id N(5,0); note M', dbf_type='db3',
                  codepage='cp850')
table.open(dbf.READ_WRITE)
for i, value in enumerate(values):
    table.append((i + 1, value))
table.close()
