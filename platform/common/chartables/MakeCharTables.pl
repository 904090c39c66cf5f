#!/usr/bin/perl
# Writes the character tables of CharTables.h into the folder given:
# CodePageTables.cpp, Windows' code pages as Perl's Encode knows them, and
# UpcaseTable.cpp, letter case as Windows compares names, from
# Unicode::UCD. Both are Debian's (the perl package); the build runs this on
# the build machine, for the Windows build too.
#
# Windows is the truth: its own conversions (MultiByteToWideChar with
# MB_ERR_INVALID_CHARS, WideCharToMultiByte with WC_NO_BEST_FIT_CHARS, the
# lead bytes of GetCPInfo) are compared with these tables byte by byte and
# character by character in the Windows tests. Where Windows' tables differ
# from the published ones that Encode follows, the amendments below say so.
use strict;
use warnings;
use Encode ();
use Unicode::UCD qw(prop_invmap);

die "usage: MakeCharTables.pl OUTPUT_DIR\n" unless @ARGV == 1;
my $OutputDir = $ARGV[0];

# The ANSI code pages and the OEM code pages that Windows pairs with each:
# the command interpreter reads batch files in the OEM one (1252 has two, by
# country).
my %OemPartners = (
  874 => [874], 932 => [932], 936 => [936], 949 => [949], 950 => [950],
  1250 => [852], 1251 => [866], 1252 => [437, 850], 1253 => [737], 1254 => [857],
  1255 => [862], 1256 => [720], 1257 => [775], 1258 => [1258], 65001 => [65001],
);
my $Utf8 = 65001;

# Amendments, where Windows' tables differ from Encode's:
# - Bytes 0x80 to 0x9F that an ANSI code page leaves undefined stand for the
#   C1 controls of the same numbers, both ways.
# - The other undefined single bytes stand for private-use characters
#   counted up from a start of each code page's own, in the order of the
#   bytes (Encode has those of the double-byte code pages: 932's 0xA0 and
#   0xFD to 0xFF). They convert only from Unicode: MultiByteToWideChar with
#   MB_ERR_INVALID_CHARS refuses every single byte that stands for a
#   private-use character.
# - A double-byte code page's lead bytes run from its first to its last,
#   but for the bytes that stand alone, whether or not any of their
#   sequences is defined (932's 0x85, 0x86, 0xEB, 0xEC and 0xEF).
my %PrivateUseFrom = (874 => 0xF8C1, 1253 => 0xF8F9, 1255 => 0xF88D, 1257 => 0xF8FC,
                      857 => 0xF8BB);
# - Characters that Windows added.
my %Added = (1255 => {0xCA => 0x05BA});
# - Code page 720 (Arabic, DOS), which Encode lacks: bytes 0x80 to 0xFF.
my @Cp720 = map { hex } qw(
  0080 0081 00E9 00E2 0084 00E0 0086 00E7 00EA 00EB 00E8 00EF 00EE 008D 008E 008F
  0090 0651 0652 00F4 00A4 0640 00FB 00F9 0621 0622 0623 0624 00A3 0625 0626 0627
  0628 0629 062A 062B 062C 062D 062E 062F 0630 0631 0632 0633 0634 0635 00AB 00BB
  2591 2592 2593 2502 2524 2561 2562 2556 2555 2563 2551 2557 255D 255C 255B 2510
  2514 2534 252C 251C 2500 253C 255E 255F 255A 2554 2569 2566 2560 2550 256C 2567
  2568 2564 2565 2559 2558 2552 2553 256B 256A 2518 250C 2588 2584 258C 2590 2580
  0636 0637 0638 0639 063A 0641 00B5 0642 0643 0644 0645 0646 0647 0648 0649 064A
  2261 064B 064C 064D 064E 064F 0650 2248 00B0 2219 00B7 221A 207F 00B2 25A0 00A0);

sub IsPrivateUse { my ($Char) = @_; return $Char >= 0xE000 && $Char <= 0xF8FF }
sub IsSurrogate { my ($Char) = @_; return $Char >= 0xD800 && $Char <= 0xDFFF }

# What one code page's bytes stand for, and what each character converts to.
sub ReadCodePage {
  my ($Number) = @_;
  my (%Decoded, %Encoded, @Lead);  # Decoded: byte sequence (as a number) => character
  my $IsAnsi = exists $OemPartners{$Number};
  if ($Number == 720) {
    $Decoded{$_} = $_ for 0 .. 0x7F;
    $Decoded{0x80 + $_} = $Cp720[$_] for 0 .. 127;
    $Encoded{$Decoded{$_}} = $_ for keys %Decoded;
  } else {
    my $Encoding = Encode::find_encoding("cp$Number") or die "Encode lacks cp$Number\n";
    my $Decode = sub {
      my $Bytes = shift;
      my $Text = eval { $Encoding->decode($Bytes, Encode::FB_CROAK) };
      return (defined $Text && length $Text == 1) ? ord $Text : undef;
    };
    for my $Byte (0 .. 0xFF) {
      my $Char = $Decode->(chr $Byte);
      if (defined $Char) {
        $Decoded{$Byte} = $Char;
        next;
      }
      my $Pairs = 0;
      for my $Trail (0 .. 0xFF) {
        my $Pair = $Decode->(chr($Byte) . chr($Trail));
        next unless defined $Pair;
        $Decoded{$Byte << 8 | $Trail} = $Pair;
        $Pairs++;
      }
      push @Lead, $Byte if $Pairs;
    }
    if (@Lead) {
      @Lead = grep { !exists $Decoded{$_} } $Lead[0] .. $Lead[-1];
      my %IsLead = map { $_ => 1 } @Lead;
      for my $Byte (0x80 .. 0xFF) {
        die "cp$Number: byte $Byte undefined\n" unless exists $Decoded{$Byte} || $IsLead{$Byte};
      }
    } else {
      my $Added = $Added{$Number} // {};
      for my $Byte (keys %$Added) {
        $Decoded{$Byte} = $Added->{$Byte};
        $Encoded{$Added->{$Byte}} = $Byte;
      }
      for my $Byte (0x80 .. 0x9F) {
        next if exists $Decoded{$Byte};
        die "cp$Number: byte $Byte undefined\n" unless $IsAnsi;
        $Decoded{$Byte} = $Byte;
        $Encoded{$Byte} = $Byte;
      }
      my $PrivateUse = $PrivateUseFrom{$Number};
      my @Undefined = grep { !exists $Decoded{$_} } 0xA0 .. 0xFF;
      die "cp$Number: the private-use start does not fit\n" if !!@Undefined != defined $PrivateUse;
      for my $Byte (@Undefined) {
        $Decoded{$Byte} = $PrivateUse;
        $Encoded{$PrivateUse++} = $Byte;
      }
    }
    # Encode's encoder, but only where the bytes decode to the very same
    # character: its one-way fallbacks (best fit) are not Windows'.
    for my $Char (0 .. 0xFFFF) {
      next if IsSurrogate($Char) || exists $Encoded{$Char};
      my $Bytes = eval { $Encoding->encode(chr $Char, Encode::FB_CROAK) };
      next unless defined $Bytes && length $Bytes >= 1 && length $Bytes <= 2;
      my $Sequence = length $Bytes == 1 ? ord $Bytes : unpack('n', $Bytes);
      $Encoded{$Char} = $Sequence if ($Decoded{$Sequence} // -1) == $Char;
    }
  }
  for my $Byte (0 .. 0x7F) {
    die "cp$Number: byte $Byte is not ASCII\n"
      unless ($Decoded{$Byte} // -1) == $Byte && ($Encoded{$Byte} // -1) == $Byte;
  }
  for my $Sequence (keys %Decoded) {
    my $Char = $Decoded{$Sequence};
    die sprintf("cp%d: U+%04X is decoded, never encoded\n", $Number, $Char)
      unless exists $Encoded{$Char};
  }
  # What MB_ERR_INVALID_CHARS takes.
  for my $Byte (0x80 .. 0xFF) {
    delete $Decoded{$Byte} if exists $Decoded{$Byte} && IsPrivateUse($Decoded{$Byte});
  }
  return {Number => $Number, IsAnsi => $IsAnsi, Decoded => \%Decoded,
          Encoded => \%Encoded, Lead => \@Lead};
}

# C++ text of a list of numbers, 12 to a line.
sub NumberList {
  my ($Format, @Numbers) = @_;
  my @Lines;
  while (my @Line = splice @Numbers, 0, 12) {
    push @Lines, '  ' . join(', ', map { sprintf $Format, $_ } @Line) . ',';
  }
  return join("\n", @Lines);
}

# Definitions of a TTwoLevelTable named Name holding Map (key => value,
# keys below 0x10000), and its initializer.
sub TwoLevelTable {
  my ($Name, $Map) = @_;
  my %ByHigh;
  push @{$ByHigh{$_ >> 8}}, $_ & 0xFF for keys %$Map;
  my @RowOf = (0) x 256;
  my @Rows = ([1, 0, 0]);
  my @Pool;
  for my $High (sort { $a <=> $b } keys %ByHigh) {
    my @Low = sort { $a <=> $b } @{$ByHigh{$High}};
    $RowOf[$High] = scalar @Rows;
    push @Rows, [$Low[0], $Low[-1], scalar @Pool];
    push @Pool, map { $Map->{$High << 8 | $_} // 0 } $Low[0] .. $Low[-1];
  }
  die "$Name: too large\n" if @Rows > 256 || @Pool > 0x10000;
  push @Pool, 0 unless @Pool;
  my $Text = "constexpr uint8_t ${Name}RowOf[256] = {\n" . NumberList('%d', @RowOf) . "\n};\n"
           . "constexpr TRow ${Name}Rows[] = {\n"
           . join('', map { sprintf "  {0x%02X, 0x%02X, %d},\n", @$_ } @Rows) . "};\n"
           . "constexpr uint16_t ${Name}Pool[] = {\n" . NumberList('0x%04X', @Pool) . "\n};\n";
  return ($Text, "{${Name}RowOf, ${Name}Rows, ${Name}Pool}");
}

sub WriteFile {
  my ($Name, $Text) = @_;
  my $Path = "$OutputDir/$Name";
  open(my $Out, '>', "$Path.new") or die "$Path.new: $!\n";
  print $Out "// Generated by MakeCharTables.pl from Debian's Perl; not to be edited.\n"
           . "#include \"CharTables.h\"\n\nnamespace kv::chartables {\n\nnamespace {\n\n"
           . $Text . "}  // namespace kv::chartables\n";
  close($Out) or die "$Path.new: $!\n";
  rename("$Path.new", $Path) or die "$Path: $!\n";
}

sub CodePageTables {
  my %Numbers = map { $_ => 1 } keys %OemPartners, map { @$_ } values %OemPartners;
  my ($Definitions, $Entries) = ('', '');
  for my $Number (sort { $a <=> $b } keys %Numbers) {
    my $Partners = $OemPartners{$Number};
    my $PartnerSpan = '{}';
    if ($Partners) {
      $Definitions .= "constexpr uint32_t Partners$Number\[] = {" . join(', ', @$Partners) . "};\n";
      $PartnerSpan = "Partners$Number";
    }
    my $IsAnsi = $Partners ? 'true' : 'false';
    if ($Number == $Utf8) {
      $Entries .= "  {$Number, $IsAnsi, $PartnerSpan, {0, 0}, nullptr, {EmptyRowOf, EmptyRows, EmptyPool},\n"
                . "   {EmptyRowOf, EmptyRows, EmptyPool}},\n";
      next;
    }
    my $Page = ReadCodePage($Number);
    my @LeadBits = (0, 0);
    $LeadBits[($_ - 0x80) >> 6] |= 1 << (($_ - 0x80) & 63) for @{$Page->{Lead}};
    my %Double = map { $_ => $Page->{Decoded}{$_} } grep { $_ > 0xFF } keys %{$Page->{Decoded}};
    my %Encoded = map { $_ => $Page->{Encoded}{$_} } grep { $_ >= 0x80 } keys %{$Page->{Encoded}};
    my ($DoubleText, $DoubleInit) = %Double ? TwoLevelTable("Double$Number", \%Double)
                                            : ('', '{EmptyRowOf, EmptyRows, EmptyPool}');
    my ($EncodedText, $EncodedInit) = TwoLevelTable("Encoding$Number", \%Encoded);
    $Definitions .= "constexpr uint16_t Single$Number\[128] = {\n"
                  . NumberList('0x%04X', map { $Page->{Decoded}{$_} // 0 } 0x80 .. 0xFF) . "\n};\n"
                  . $DoubleText . $EncodedText;
    $Entries .= sprintf "  {%d, %s, %s, {0x%016XULL, 0x%016XULL}, Single%d, %s,\n   %s},\n",
                        $Number, $IsAnsi, $PartnerSpan, @LeadBits, $Number, $DoubleInit,
                        $EncodedInit;
  }
  my ($EmptyText) = TwoLevelTable('Empty', {});
  my $Ansi = join(', ', sort { $a <=> $b } keys %OemPartners);
  WriteFile('CodePageTables.cpp', $EmptyText . $Definitions
    . "constexpr TCodePageTables Pages[] = {\n$Entries};\n"
    . "constexpr uint32_t AnsiNumbers[] = {$Ansi};\n\n}  // namespace\n\n"
    . "constinit const std::span<const TCodePageTables> KnownCodePages = Pages;\n"
    . "constinit const std::span<const uint32_t> AnsiCodePageNumbers = AnsiNumbers;\n\n");
}

# A property's simple case mapping within the Basic Multilingual Plane, as
# a hash of the characters it changes.
sub CaseMapping {
  my ($Property) = @_;
  my ($Starts, $Maps, $Format) = prop_invmap($Property);
  die "$Property: format $Format\n" unless $Format eq 'a';
  my %Mapping;
  for my $I (0 .. $#$Starts) {
    my $Map = $Maps->[$I];
    next if ref $Map || $Map == 0;  # 0: each maps to itself
    my $End = $I < $#$Starts ? $Starts->[$I + 1] - 1 : 0x10FFFF;
    for my $Char ($Starts->[$I] .. ($End < 0xFFFF ? $End : 0xFFFF)) {
      my $Mapped = $Map + ($Char - $Starts->[$I]);
      $Mapping{$Char} = $Mapped if $Mapped != $Char && $Mapped <= 0xFFFF;
    }
  }
  return \%Mapping;
}

# Windows' upcase table maps a character to its simple uppercase only where
# that lowercases back to the character: not "ı" to "I", "ſ" to "S", "µ" to
# "Μ", nor a titlecase letter or a Greek symbol variant to its capital.
sub UpcaseTable {
  my $Upper = CaseMapping('Simple_Uppercase_Mapping');
  my $Lower = CaseMapping('Simple_Lowercase_Mapping');
  my %Upcase = map { $_ => $Upper->{$_} } grep { ($Lower->{$Upper->{$_}} // -1) == $_ } keys %$Upper;
  my ($Text, $Init) = TwoLevelTable('Upcase', \%Upcase);
  WriteFile('UpcaseTable.cpp', $Text . "\n}  // namespace\n\n"
    . "constinit const TTwoLevelTable UpcaseForNames = $Init;\n\n");
}

CodePageTables();
UpcaseTable();
