# Writes the memo tables of the peer tests with XBase (libdbd-xbase-perl) into a folder:
# x3.dbf (dBASE III memo file), x4.dbf (dBASE IV memo file), xf.dbf (FoxPro memo file), each
# with the fields ID N 5 and NOTE M and five records, the fifth without a memo. The texts are
# given in code page 850.
#   write_memos_xbase.pl <folder>
use strict;
use XBase;

my @values = ('abc', 'x' x 600, "line one\r\nline two", "Gr\x81\xE1e", undef);
my %tables = ('x3' => [version => 3], 'x4' => [version => 4],
              'xf' => [memofile => "$ARGV[0]/xf.fpt"]);
for my $name (sort keys %tables) {
  my $table = XBase->create(name => "$ARGV[0]/$name.dbf", field_names => ['ID', 'NOTE'],
                            field_types => ['N', 'M'], field_lengths => [5, 10],
                            field_decimals => [0, undef], @{$tables{$name}})
      or die XBase->errstr;
  for my $i (0 .. $#values) {
    $table->set_record($i, $i + 1, $values[$i]) or die $table->errstr;
  }
  $table->close;
}
