// The compiled form of a function body: an array of instructions over the body's syntax nodes,
// made once on the function's first call (function_compile.cpp) and run by function_vm.cpp.
#pragma once

#include <cstdint>

#include "base/syntax_node.h"
#include "engine/text_template.h"

struct FunctionEntry;
struct NameTable;
struct Script;

namespace compiled_body {

// The loop that runs them (function_vm.cpp) keeps a table of its steps in this order.
enum class Op : std::uint8_t {
  Nop,
  PushNumber,    // a
  PushText,      // node: a plain literal
  Refused,       // node: code no statement of the language makes (see compile_code): a
                 // "Sentence error" reported there
  PushName,      // node; b = 1 when the next instruction only reads the value (a key, say)
  Assign,        // node; a = 1 when a statement end follows
  Binary,        // node
  Unary,         // node: a prefix operator
  Declare,       // node: a name declared by `var`; a = 1 when it is a function's `arg`, which
                 // the call has already
  Index,         // node
  PostStep,      // a = 1 or -1
  ApplyPostfix,  //
  Clear,         // a statement's end
  Comma,         // a = 1 when another comma follows
  Jump,          // a = where execution goes on
  SkipIfTrue,    //
  LoopTest,      // a = the exit jump
  LoopBack,      // a = after the exit jump
  EnterScope,    // a = the braces' depth (the function's own scope is 0)
  LeaveScope,    // a = the depth of the braces it leaves
  Return,        //
  CallStart,     //
  Call,          // node
  // Larger instructions for the commonest sequences; each falls back to its parts.
  BinaryOf,      // node: the operator; left, right: a name or a number each
  AssignClear,   // node: an assignment whose statement ends right after it
  StepClear,     // node: a name updated by a postfix step, alone in its statement; a = 1 or -1
  JumpIfFalse,   // a = where execution goes on when the condition is false
  AssignOf,      // target = left <node> right, alone in its statement (the Name in `target`)
  TestJump,      // an if's condition left <node> right: on false to `a`; target: the if's Jump
  BreakJump,     // node: the loop's LoopEnd, or the Switch; a = after it
  Switch,        // node; a CaseEntry for each label follows, and one without a node; b = 1 when
                 // the chosen label's statements keep their values apart (as a ListStart does)
  CaseEntry,     // not run: node, a label, and a = where its statements start; b = 2 when the
                 // label is an expression, whose code starts at target_slot and ends with an End;
                 // without a node, a = the switch's end
  LoopTestOf,    // a loop's condition left <node> right and its test: on false to `a`; target: the
                 // Loop node
  LoopTestBack,  // a pass's end and the next pass's LoopTestOf: on true to `b`, on false to `a`
  BreakCount,    // node: a break with a value: the value is how many more loops or switches it
                 // leaves; the stack is emptied
  BreakOut,     // node: a loop's LoopEnd, or a switch: with no more to leave, on to after it (`a`);
                // else one fewer to leave
  Discard,      // the stack is emptied (a continue's value, which it ignores)
  AssignValue,  // target = right, alone in its statement, right a name or a number (node: the
                // Assign)
  // TestJump, LoopTestOf, LoopTestBack, BinaryOf and AssignOf where left is a name and right a
  // number: the same, with the commonest case first.
  TestJumpConst,
  LoopTestOfConst,
  LoopTestBackConst,
  BinaryOfConst,
  AssignOfConst,
  Interpolate,  // a = the template (CompiledFunction::templates), b = its part count: the parts'
                // values on the stack joined with its pieces of text into a string (node: the
                // literal)
  // A destructuring assignment's pattern (node), its capture targets compiled: the pattern's
  // value, which the Assign finds the table by. b = the captures; a
  // CaptureEntry for each follows, then their targets' code; a = after all of it.
  PushPattern,
  CaptureEntry,  // not run: a = where the target's code starts (it ends with an End); b = 1
                 // when the capture names a target
  ListStart,     // braces that make a list (or whose values go unmade), or a loop's pass that
                 // keeps its values apart: where their values start
  MakeList,      // the values since the ListStart made into a list (node: the braces)
  AssignNamed,   // node: an assignment in such braces whose value goes on, named after its target
  Exit,          // a return that ends an event's dispatch too
  // A part of a literal whose parts have calls or effects (or are many): PartStart marks where it
  // starts; PartEnd leaves its value as text of its own, and applies the postfix steps it made.
  PartStart,
  PartEnd,
  Drop,    // the top entry goes: the value a loop's pass left (node: the body's braces)
  Unwind,  // a = how many of the innermost ListStarts (and framed switches) end: what each holds
           // goes with it
  BrokenPart,  // a = the template: the literal's part that does not parse, reported; the run fails
               // (node: the literal)
  End,         // the body's end (the loop's table of steps lists the operations in this order)
};

// An operand of a larger instruction, decoded: a variable's slot, or -1 and a number.
struct Operand {
  std::int32_t slot;
  std::int32_t number;
};

struct Instruction {
  Op op;
  // The outcomes of a comparison in the larger instructions that test one: bit 0 when left is the
  // less, bit 1 when equal, bit 2 when greater; 0 for any other operator.
  std::uint8_t outcomes;
  std::int32_t a;
  std::int32_t b;
  std::int32_t target_slot;  // AssignOf, AssignValue; a CaseEntry's label code
  Operand left_operand;      // the larger instructions' left and right
  Operand right_operand;
  SyntaxNode* node;
  SyntaxNode* left;
  SyntaxNode* right;
  SyntaxNode* target;  // AssignOf, AssignValue: the name assigned to (AssignOf: its Assign in
                       // `assign`); TestJump: the Jump
  SyntaxNode* assign;
};

constexpr std::int32_t kPatternPlace = -1;
constexpr std::int32_t kEmptyPlace = -2;

struct Parameter {
  // kPatternPlace for a pattern the argument's text is searched with (its captures bind);
  // kEmptyPlace for a place that holds no name (an argument that reaches it is reported).
  std::int32_t slot;
  bool by_reference;  // `&name`: shares the caller's variable
  SyntaxNode* node;   // its DeclareName, where its code (with any default) starts
  // Where the code that binds this parameter and those after it starts (after the body's End; it
  // ends with an End of its own), and the node at which "Argument error" is reported when one of
  // them has no default (null when all have).
  std::int32_t defaults_at;
  SyntaxNode* without_default;
  // A pattern's capture table (see PushPattern) after the body's End, its targets parsed in the
  // binding mode; -1 when its targets' code was refused (its binding is reported).
  std::int32_t captures_at = -1;
  // Called "arg": once the parameters are bound it is the call's `arg`, the arguments.
  bool is_arg = false;
};

// How much an activation record's tables must hold for a run of the code: the variables declared
// (the function's names, its `var` declarations and the names its literals may declare), the
// nested braces, the postfix steps of one statement and the calls nested in one expression. A
// record holds so much inline; a function that needs more has larger ones made.
struct TableSizes {
  std::int32_t declared;
  std::int32_t scopes;
  std::int32_t pending;
  std::int32_t calls;
};
constexpr TableSizes kInlineTables{256, 64, 32, 16};

struct CompiledFunction {
  Instruction* code;
  std::int32_t count;
  std::int32_t capacity;
  std::int32_t slot_count;
  std::int32_t parameter_count;
  Parameter* parameters;
  SyntaxNode* call;           // the definition's Call node, which ends the parameters' code
  std::int32_t* name_hashes;  // of the table's names, by slot
  // The code (its literals' parts and capture targets too) names `arg`: calls then pass their
  // arguments as a chain.
  bool reads_arguments;
  bool takes_references;  // a parameter is `&name`
  bool binds_arg;         // a parameter is called "arg"
  // The slot of the name `arg`, or -1: a default or a capture that declares it (reading it before
  // the call has made it) leaves a variable there, which then becomes the call's arguments.
  std::int32_t arg_slot;
  const NameTable* table;
  // The table's module does not ask for declared names (a run of the module's own code may then
  // reuse its variables without looking again).
  bool implicit_names;
  // The literals with «%expr%» parts or escapes that the code makes in line.
  TextTemplate** templates;
  std::int32_t template_count;
  std::int32_t template_capacity;
  // The capture targets of the destructuring patterns, parsed once (node lists).
  SyntaxNode** targets;
  std::int32_t target_count;
  std::int32_t target_capacity;
  TableSizes table_sizes;
  bool large_tables;  // table_sizes exceed kInlineTables somewhere
};

}  // namespace compiled_body

// The function's compiled form, made on first use by whichever thread comes first; null when
// memory ran out (the next call tries again), or for good when the definition has no body to
// compile (compiled_form_refused), which the loader never makes.
compiled_body::CompiledFunction* compiled_form(FunctionEntry* entry);
bool compiled_form_refused(FunctionEntry* entry);
void free_compiled_form(FunctionEntry* entry);

// A module's top-level code, compiled for its one run (it has no parameters); null when memory ran
// out.
compiled_body::CompiledFunction* compile_top_level(Script* module);
void free_top_level(compiled_body::CompiledFunction* function);
