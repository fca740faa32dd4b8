#include "engine/text_template.h"

#include <cstring>

#include "base/cp932.h"
#include "base/syntax_node.h"
#include "engine/context_parse.h"
#include "engine/value.h"
#include "platform/memory.h"
#include "platform/text.h"

namespace compiled_body {

namespace {

// Copies text[from, to) into `write`, each "%%" as one "%"; the end of the copy.
char* copy_piece(char* write, const char* from, const char* to) {
  for (const char* read = from; read < to;) {
    if (is_lead_byte(static_cast<unsigned char>(*read)) && read + 1 < to) {
      *write++ = *read++;
      *write++ = *read++;
    } else if (read[0] == '%' && read + 1 < to && read[1] == '%') {
      *write++ = '%';
      read += 2;
    } else {
      *write++ = *read++;
    }
  }
  return write;
}

// Room for one more part (and the piece after it); false when memory ran out.
bool make_room(TextTemplate* text) {
  if (text->part_count + 1 < text->capacity) return true;
  const std::int32_t capacity = text->capacity == 0 ? 4 : text->capacity * 2;
  auto* offsets = static_cast<std::int32_t*>(alloc_block(sizeof(std::int32_t) * capacity));
  auto* lengths = static_cast<std::int32_t*>(alloc_block(sizeof(std::int32_t) * capacity));
  auto* parts = static_cast<SyntaxNode**>(alloc_block(sizeof(SyntaxNode*) * capacity));
  if (offsets == nullptr || lengths == nullptr || parts == nullptr) {
    release(&offsets);
    release(&lengths);
    release(&parts);
    return false;
  }
  for (std::int32_t i = 0; i < text->part_count; ++i) {
    offsets[i] = text->offsets[i];
    lengths[i] = text->lengths[i];
    parts[i] = text->parts[i];
  }
  release(&text->offsets);
  release(&text->lengths);
  release(&text->parts);
  text->offsets = offsets;
  text->lengths = lengths;
  text->parts = parts;
  text->capacity = capacity;
  return true;
}

}  // namespace

void free_text_template(TextTemplate* text) {
  if (text == nullptr) return;
  for (std::int32_t i = 0; i < text->part_count; ++i)
    free_syntax_node(&text->parts[i]);
  if (text->plain != nullptr) text->plain->pattern = nullptr;  // the literal's
  free_syntax_node(&text->plain);
  release(&text->broken);
  release(&text->pieces);
  release(&text->offsets);
  release(&text->lengths);
  release(&text->parts);
  release(&text);
}

TemplateMade make_text_template(const SyntaxNode* literal, const NameTable* table, bool binding,
                                TextTemplate** made) {
  *made = nullptr;
  char* text = dup_string(literal->text != nullptr ? literal->text : "");
  TextTemplate* result = text != nullptr ? alloc_record<TextTemplate>() : nullptr;
  // The pieces are never longer than the text they come from, and each takes a NUL, one more than
  // the parts, which take two "%" each at least.
  char* pieces = result != nullptr ? alloc_string(std::strlen(text) * 2 + 1) : nullptr;
  if (pieces == nullptr || !make_room(result)) {
    if (result != nullptr) free_text_template(result);
    release(&pieces);
    release(&text);
    return TemplateMade::NoMemory;
  }
  result->pieces = pieces;
  unescape_text(text);
  TemplateMade outcome = TemplateMade::Made;
  char* write = pieces;
  const char* piece = text;
  const char* cursor = text;
  auto end_piece = [&](const char* to) {
    const std::int32_t at = result->part_count;
    result->offsets[at] = static_cast<std::int32_t>(write - pieces);
    write = copy_piece(write, piece, to);
    result->lengths[at] = static_cast<std::int32_t>(write - pieces) - result->offsets[at];
    *write++ = '\0';
  };
  bool closed = true;
  while (closed && outcome == TemplateMade::Made) {
    cursor = find_embedded_part(cursor);
    if (*cursor == '\0') break;
    if (!make_room(result)) {
      outcome = TemplateMade::NoMemory;
    } else {
      // A part runs to the next "%"; one left open ends the text.
      const char* close = std::strchr(cursor + 1, '%');
      const char* stop = close != nullptr ? close : cursor + std::strlen(cursor);
      bool no_memory = false;
      SyntaxNode* list = binding ? parse_binding_part(cursor, &no_memory)
                                 : parse_embedded_part(nullptr, cursor, &no_memory);
      if (list == nullptr) {
        // A sentence error, which each run reports there, or no memory.
        result->broken = no_memory ? nullptr : dup_string(cursor);
        if (result->broken == nullptr) outcome = TemplateMade::NoMemory;
        break;
      }
      // Placed at the literal, in the function's table: its reports point at the literal.
      settle_parsed_nodes(list, literal->source, table);
      end_piece(cursor);
      result->parts[result->part_count++] = list;
      closed = close != nullptr;
      cursor = closed ? close + 1 : stop;
      piece = cursor;
    }
  }
  if (outcome == TemplateMade::Made) {
    end_piece(cursor);
    if (result->part_count == 0 && result->broken == nullptr) {
      SyntaxNode* plain = make_syntax_node(NodeKind::String, literal->source);
      char* finished = plain != nullptr ? dup_string(pieces) : nullptr;
      if (finished == nullptr) {
        release(&plain);
        outcome = TemplateMade::NoMemory;
      } else {
        plain->text = finished;
        plain->plain_text = 1;
        plain->pattern = literal->pattern;
        result->plain = plain;
      }
    }
  }
  release(&text);
  if (outcome != TemplateMade::Made) {
    free_text_template(result);
    return outcome;
  }
  *made = result;
  return outcome;
}

}  // namespace compiled_body
