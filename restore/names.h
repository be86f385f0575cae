// Names the system would not address faithfully: a path built from one may name another file,
// or none, so the walk leaves such a member where it is.
#pragma once

// True when `text` holds U+FFFD, which the system shows for what it cannot spell: bytes that
// are not UTF-8 under Wine, an unpaired surrogate on NTFS.
bool HoldsReplacementCharacter(const char* text);

// True when the listed name `name` cannot be joined to a path faithfully: it holds U+FFFD, or
// "\", which Wine lists as Linux has it and a path reads as a separator ("z\..\x").
bool Unspelled(const char* name);

// True when Windows would address `name` by another: it drops a trailing dot or space from a
// path's last element, so "lib." reaches "lib".
bool EndsUnfaithfully(const char* name);

// True when `name` holds "~" and its destination `to` may resolve to a file of another long name
// (a short name like "LONGFI~1.TXT" reaches whichever file it belongs to). Only a name holding "~"
// costs a look-up; one that cannot be made is taken as such a name.
bool MayBeShortName(const char* name, const char* to);
