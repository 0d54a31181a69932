// editor.h - the field editor every screen edits its values with.
#pragma once
#include <string>

#include "input/keys.h"

// Edits `text` (its length never changes) in rows of `width` characters at
// `row`, `column` of the innermost window (0 = where the cursor stands), in
// the edit colours, from character `cursor` (1-based; the editor leaves it
// where the edit ended).  Keyboard.FieldOptions turns the field into a list
// of options and Keyboard.maskCharacter hides what is typed.  Returns with
// the key that ended the edit in `key`: a key the editor does not consume
// that is in the exit-key set (any such key when the set is empty), or a
// mouse click outside the field.
void EditField(int row, int column, int width, std::string& text, int& cursor, KeyCode& key);
