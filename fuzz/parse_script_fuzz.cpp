// Parses arbitrary bytes as a script file: the parser must stay inside the text, bound its
// recursion and free everything it built, whether the parse succeeds or fails.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/syntax_node.h"
#include "engine/context_parse.h"
#include "engine/engine.h"
#include "engine/script.h"
#include "platform/memory.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  engine_start();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  char* text = static_cast<char*>(alloc_block(size + 1));
  if (text == nullptr) return 0;
  std::memcpy(text, data, size);
  text[size] = '\0';

  // A module without a host: error reports are formatted and then dropped.
  Script* module = alloc_record<Script>();
  module->text = text;
  module->root = module;
  CallContext context{};
  context.script = module;
  SyntaxNode* code = parse_script_text(&context, text, 0);

  free_syntax_node(&code);
  free_function_entries(module);
  release(&module->text);
  release(&module);
  return 0;
}
