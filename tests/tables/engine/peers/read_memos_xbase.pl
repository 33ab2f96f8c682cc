# Reads the memo field NOTE of every record of a table with XBase (libdbd-xbase-perl) and
# prints, one line per record, the ID, a tab and the memo's bytes as hex ("-" for none).
#   read_memos_xbase.pl <table.dbf>
use strict;
use XBase;

my $table = XBase->new($ARGV[0]) or die XBase->errstr;
for my $i (0 .. $table->last_record) {
  my ($deleted, $id, $note) = $table->get_record($i, 'ID', 'NOTE');
  die $table->errstr unless defined $deleted;
  printf "%d\t%s\n", $id, (defined $note && $note ne '') ? unpack('H*', $note) : '-';
}
