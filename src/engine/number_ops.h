// The number operators: 32-bit two's complement with wrap-around.
#pragma once

#include <cstdint>

#include "base/syntax_node.h"

// The result of a binary operator on two numbers; false for a division or remainder by zero and
// for a node that is no binary operator.
[[gnu::always_inline]] inline bool apply_number_operator(NodeKind kind, std::int32_t left,
                                                         std::int32_t right, std::int32_t* out) {
  auto l = static_cast<std::uint32_t>(left);
  auto r = static_cast<std::uint32_t>(right);
  switch (kind) {
    case NodeKind::LogicalAnd:
      *out = left != 0 && right != 0;
      return true;
    case NodeKind::LogicalOr:
      *out = left != 0 || right != 0;
      return true;
    case NodeKind::Less:
      *out = left < right;
      return true;
    case NodeKind::LessEqual:
      *out = left <= right;
      return true;
    case NodeKind::Greater:
      *out = left > right;
      return true;
    case NodeKind::GreaterEqual:
      *out = left >= right;
      return true;
    case NodeKind::Equal:
    case NodeKind::Match:
      *out = left == right;
      return true;
    case NodeKind::NotEqual:
      *out = left != right;
      return true;
    case NodeKind::BitAnd:
      *out = static_cast<std::int32_t>(l & r);
      return true;
    case NodeKind::BitOr:
      *out = static_cast<std::int32_t>(l | r);
      return true;
    case NodeKind::BitXor:
      *out = static_cast<std::int32_t>(l ^ r);
      return true;
    case NodeKind::ShiftLeft:
      *out = static_cast<std::int32_t>(l << (r & 31));
      return true;
    case NodeKind::ShiftRight:
      *out = static_cast<std::int32_t>(l >> (r & 31));
      return true;
    case NodeKind::Add:
      *out = static_cast<std::int32_t>(l + r);
      return true;
    case NodeKind::Subtract:
      *out = static_cast<std::int32_t>(l - r);
      return true;
    case NodeKind::Multiply:
      *out = static_cast<std::int32_t>(l * r);
      return true;
    case NodeKind::Divide:
    case NodeKind::Modulo:
      if (right == 0) return false;
      // The one quotient that does not fit wraps: -2147483648 / -1 is -2147483648, remainder 0.
      if (left == INT32_MIN && right == -1) {
        *out = kind == NodeKind::Divide ? INT32_MIN : 0;
      } else {
        *out = kind == NodeKind::Divide ? left / right : left % right;
      }
      return true;
    default:
      return false;
  }
}

// The result of a unary operator that only reads its operand (not, complement, plus, negate).
inline std::int32_t apply_pure_unary(NodeKind kind, std::int32_t operand) {
  auto number = static_cast<std::uint32_t>(operand);
  switch (kind) {
    case NodeKind::Not:
      return number == 0 ? 1 : 0;
    case NodeKind::Complement:
      return static_cast<std::int32_t>(~number);
    case NodeKind::Negate:
      return static_cast<std::int32_t>(0u - number);
    default:
      return operand;
  }
}
