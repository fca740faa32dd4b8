#include "engine/builtin_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "engine/script.h"
#include "platform/memory.h"
#include "support/test_host.h"

namespace {

std::int32_t LUMO_CALL returns_text(CallContext*, ValueNode* arguments, ValueNode* result, char*) {
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  set_string_value(result->value, "done");
  return 3;  // any status of 0 or more is success
}

std::int32_t LUMO_CALL fails_with_message(CallContext*, ValueNode*, ValueNode* result,
                                          char* message) {
  EXPECT_EQ(message[0], '\0');
  std::strcpy(message, "FileClose: Invalid handle");
  set_string_value(result->value, "discarded");  // released with the failed result cell
  return LUMO_STATUS_FAILED;
}

std::int32_t LUMO_CALL fails_quietly(CallContext*, ValueNode*, ValueNode*, char*) {
  return -5;
}

std::int32_t LUMO_CALL fills_the_buffer(CallContext*, ValueNode*, ValueNode*, char* message) {
  std::memset(message, 'm', LUMO_MESSAGE_SIZE);  // no terminating NUL
  return LUMO_STATUS_FAILED;
}

std::int32_t LUMO_CALL string_without_text(CallContext*, ValueNode*, ValueNode* result, char*) {
  result->value->is_string = 1;
  return 0;
}

struct NativeCall : testing::Test {
  TestHost test_host;
  ScriptFixture scripts{test_host.host()};
  Script* main_module = scripts.add_module("main");
  CallContext frame = make_frame(main_module, "start");
};

}  // namespace

TEST(BuiltinTable, RowsInOrderWithUniqueNamesAndSignatures) {
  std::set<std::string> names;
  for (const BuiltinRow& row : BuiltinTable) {
    EXPECT_EQ(std::strncmp(row.name, "_sfunc_", 7), 0) << row.name;
    EXPECT_EQ(row.name_hash, name_hash_of(row.name)) << row.name;
    EXPECT_NE(row.entry, nullptr) << row.name;
    names.insert(row.name);
  }
  EXPECT_EQ(names.size(), 107u);
  EXPECT_STREQ(BuiltinTable[0].name, "_sfunc_error");
  EXPECT_STREQ(BuiltinTable[4].name, "_sfunc_getlocale");
  EXPECT_STREQ(BuiltinTable[30].name, "_sfunc_gethashcount");
  EXPECT_STREQ(BuiltinTable[44].name, "_sfunc_regmatch");
  EXPECT_STREQ(BuiltinTable[47].name, "_sfunc_isleadchar");
  EXPECT_STREQ(BuiltinTable[58].name, "_sfunc_createdirectory");
  EXPECT_STREQ(BuiltinTable[81].name, "_sfunc_execscript");
  EXPECT_STREQ(BuiltinTable[82].name, "_sfunc_gethostname");
  EXPECT_STREQ(BuiltinTable[99].name, "_sfunc_messagebox");
  EXPECT_STREQ(BuiltinTable[106].name, "_sfunc_getcurrentchannel");
}

TEST(BuiltinTable, LookupIsCaseSensitiveAndNeedsThePrefix) {
  EXPECT_EQ(find_builtin_row("_sfunc_len"), 21);  // row 22
  EXPECT_EQ(find_builtin("_sfunc_len"), BuiltinTable[21].entry);
  EXPECT_EQ(find_builtin("_sfunc_LEN"), nullptr);
  EXPECT_EQ(find_builtin("len"), nullptr);
  EXPECT_EQ(find_builtin("_sfunc_"), nullptr);
  EXPECT_EQ(find_builtin(nullptr), nullptr);
  EXPECT_EQ(find_builtin("_sfunc_error"), &builtin_error);
}

TEST_F(NativeCall, SuccessReturnsTheResultCell) {
  ValueNode* argument = make_node();
  ValueNode* result = call_native(&frame, returns_text, "f", argument);
  ASSERT_NE(result, CALL_FAILED);
  EXPECT_STREQ(result->value->data.text, "done");
  EXPECT_EQ(result->value->owner, result);
  free_node(result);
  free_node(argument);
  EXPECT_TRUE(test_host.error_lines().empty());
}

TEST_F(NativeCall, FailureStatusesReportOrStaySilent) {
  EXPECT_EQ(call_native(&frame, returns_text, "lenx", nullptr), CALL_FAILED);
  EXPECT_EQ(call_native(&frame, fails_with_message, "fileclose", nullptr), CALL_FAILED);
  EXPECT_EQ(call_native(&frame, fails_quietly, "quiet", nullptr), CALL_FAILED);
  auto lines = test_host.error_lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "### Error: Too few arguments : main.start : lenx");
  EXPECT_EQ(lines[1], "### Error: Function error : main.start : FileClose: Invalid handle");
}

TEST_F(NativeCall, AnUnterminatedMessageIsCutAtTheBuffer) {
  EXPECT_EQ(call_native(&frame, fills_the_buffer, "f", nullptr), CALL_FAILED);
  auto lines = test_host.error_lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "### Error: Function error : main.start : " + std::string(255, 'm'));
}

TEST_F(NativeCall, AStringResultWithoutTextReadsAsEmpty) {
  ValueNode* result = call_native(&frame, string_without_text, "f", nullptr);
  ASSERT_NE(result, CALL_FAILED);
  ASSERT_EQ(result->value->is_string, 1);
  EXPECT_STREQ(result->value->data.text, "");
  free_node(result);
}

TEST_F(NativeCall, EveryRowCallsItsOwnBuiltin) {
  // Called without arguments, a built-in fails for want of them or succeeds; none is a placeholder.
  for (int row = 0; row < BUILTIN_COUNT; ++row) {
    const char* name = BuiltinTable[row].name + std::strlen("_sfunc_");
    if (std::strcmp(name, "messagebox") == 0 || std::strcmp(name, "sleep") == 0) continue;
    test_host.clear();
    ValueNode* result = call_native(&frame, BuiltinTable[row].entry, name, nullptr);
    for (const std::string& line : test_host.error_lines())
      EXPECT_EQ(line.find("not implemented"), std::string::npos) << line;
    if (result != CALL_FAILED) free_node(result);
  }
}

TEST_F(NativeCall, ErrorBuiltinSendsARedLineToTheServerView) {
  ValueNode* argument = make_node();
  argument->value->data.number = 12;
  ValueNode* result = call_native(&frame, builtin_error, "error", argument);
  ASSERT_NE(result, CALL_FAILED);
  EXPECT_EQ(result->value->data.number, 0);
  auto deliveries = test_host.deliveries();
  ASSERT_EQ(deliveries.size(), 1u);
  EXPECT_EQ(deliveries[0].request, UM_LINEECHO);
  EXPECT_EQ(deliveries[0].word, 0u);
  EXPECT_EQ(deliveries[0].text,
            "\x03"
            "0412");
  free_node(result);
  free_node(argument);

  EXPECT_EQ(call_native(&frame, builtin_error, "error", nullptr), CALL_FAILED);
  EXPECT_EQ(test_host.error_lines().back(), "### Error: Too few arguments : main.start : error");
}

TEST(ErrorBuiltin, WithoutHostFailsWithAnEmptyMessage) {
  ScriptFixture hostless;
  CallContext frame = make_frame(hostless.add_module("m"), "f");
  ValueNode* argument = make_node();
  ValueNode* result = make_node();
  char message[LUMO_MESSAGE_SIZE] = {};
  EXPECT_EQ(builtin_error(&frame, argument, result, message), LUMO_STATUS_FAILED);
  EXPECT_STREQ(message, "");
  EXPECT_EQ(builtin_error(nullptr, argument, result, message), LUMO_STATUS_FAILED);
  free_node(argument);
  free_node(result);
}
