# Reads the memo field NOTE of every record of a table with dbfread and prints, one line per
# record, the ID, a tab and the memo's bytes in the given encoding as hex ("-" for no memo).
#   read_memos_dbfread.py <table.dbf> <encoding>
import sys

from dbfread import DBF

table = DBF(sys.argv[1], encoding=sys.argv[2], char_decode_errors='strict')
for record in table:
    note = record['NOTE']
    print('%d\t%s' % (record['ID'], '-' if note is None else note.encode(sys.argv[2]).hex()))
