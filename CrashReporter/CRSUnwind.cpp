#include "CrashReporter/CRSUnwind.h"

#include <sys/uio.h>
#include <ucontext.h>
#include <unistd.h>

#include <utility>

#include "CrashReporter/CRSContext.h"

// Everything here runs at crash time: no allocation, no locks, stack buffers only. Arithmetic on
// values read from memory is done on unsigned 64-bit words, so that no input can make it undefined.
namespace {

constexpr std::uint64_t kBlock = CRSUnwindBlockSize;
// Larger CIE or FDE records are taken for damage.
constexpr std::uint64_t kMaxRecord = 1u << 20;
// Nesting of DW_CFA_remember_state.
constexpr int kMaxRememberedRows = 6;
constexpr int kMaxExpressionStack = 16;
constexpr int kMaxExpressionSteps = 256;

// The block of memory at `base` (256-byte aligned), from the walk's blocks or read into the least
// recently used one; null when it cannot be read or the budget is spent. A block never crosses a
// page boundary, so it reads whole wherever one of its bytes is mapped.
const CRSUnwindBudget::Block* fetchBlock(CRSUnwindBudget* budget, std::uint64_t base) {
  CRSUnwindBudget::Block* oldest = &budget->blocks[0];
  for (auto& block : budget->blocks) {
    if (block.base == base) {
      block.used = ++budget->clock;
      return &block;
    }
    if (block.used < oldest->used) oldest = &block;
  }
  oldest->base = 1;
  if (budget->bytes < kBlock || !CRSReadMemory(oldest->bytes, base, kBlock)) return nullptr;
  budget->bytes -= kBlock;
  oldest->base = base;
  oldest->used = ++budget->clock;
  return oldest;
}

// Reads in order from [at, end) through the walk's blocks. A read that fails or goes past the end
// marks the cursor failed, and its later reads answer 0.
struct Cursor {
  CRSUnwindBudget* budget;
  std::uint64_t at;
  std::uint64_t end;
  bool failed = false;
  // The block last read from; checked at each read, as another cursor may have replaced it.
  const CRSUnwindBudget::Block* block = nullptr;

  std::uint8_t u8() {
    if (failed || at >= end) {
      failed = true;
      return 0;
    }
    std::uint64_t base = at & ~(kBlock - 1);
    if (!block || block->base != base) {
      block = fetchBlock(budget, base);
      if (!block) {
        failed = true;
        return 0;
      }
    }
    return block->bytes[at++ - base];
  }
  // A little-endian unsigned value of 1 to 8 bytes.
  std::uint64_t fixed(int size) {
    std::uint64_t value = 0;
    for (int i = 0; i < size; ++i) value |= static_cast<std::uint64_t>(u8()) << (8 * i);
    return value;
  }
  std::uint64_t uleb() {
    std::uint64_t value = 0;
    for (unsigned shift = 0;; shift += 7) {
      std::uint8_t byte = u8();
      if (shift < 64) value |= static_cast<std::uint64_t>(byte & 0x7f) << shift;
      if (!(byte & 0x80) || failed) return value;
      if (shift > 70) {  // longer than any 64-bit value
        failed = true;
        return 0;
      }
    }
  }
  std::int64_t sleb() {
    std::uint64_t value = 0;
    for (unsigned shift = 0;; shift += 7) {
      std::uint8_t byte = u8();
      if (shift < 64) value |= static_cast<std::uint64_t>(byte & 0x7f) << shift;
      if (!(byte & 0x80) || failed) {
        if ((byte & 0x40) && shift + 7 < 64) value |= ~std::uint64_t{0} << (shift + 7);
        return static_cast<std::int64_t>(value);
      }
      if (shift > 70) {
        failed = true;
        return 0;
      }
    }
  }
  void skip(std::uint64_t count) {
    if (count > end - at) {
      failed = true;
      return;
    }
    at += count;
  }
};

// DW_EH_PE_* pointer encodings: the low four bits give the format, the next three how the value
// is applied.
constexpr std::uint8_t kEncodingOmit = 0xff;
constexpr std::uint8_t kEncodingPcRelative = 0x10;
constexpr std::uint8_t kEncodingDataRelative = 0x30;

// Reads a pointer in `encoding`. Absolute, pc-relative and (with a base) data-relative values are
// taken; text- and function-relative, aligned and indirect ones are not (the unwind tables of this
// platform's linkers use none of them for what is read here).
bool readEncoded(Cursor& c, std::uint8_t encoding, std::uint64_t dataBase, std::uint64_t* out) {
  if (encoding == kEncodingOmit || (encoding & 0x80)) return false;
  std::uint64_t field = c.at;
  std::uint64_t value = 0;
  switch (encoding & 0x0f) {
    case 0x00:  // absptr
    case 0x04:  // udata8
    case 0x0c:  // sdata8
      value = c.fixed(8);
      break;
    case 0x01:  // uleb128
      value = c.uleb();
      break;
    case 0x02:  // udata2
      value = c.fixed(2);
      break;
    case 0x03:  // udata4
      value = c.fixed(4);
      break;
    case 0x09:  // sleb128
      value = static_cast<std::uint64_t>(c.sleb());
      break;
    case 0x0a:  // sdata2
      value = static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<std::int16_t>(c.fixed(2))));
      break;
    case 0x0b:  // sdata4
      value = static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<std::int32_t>(c.fixed(4))));
      break;
    default:
      return false;
  }
  switch (encoding & 0x70) {
    case 0x00:
      break;
    case kEncodingPcRelative:
      value += field;
      break;
    case kEncodingDataRelative:
      if (!dataBase) return false;
      value += dataBase;
      break;
    default:
      return false;
  }
  *out = value;
  return !c.failed;
}

// The size of one value of a fixed-size format, 0 for the variable ones.
int encodedSize(std::uint8_t encoding) {
  switch (encoding & 0x0f) {
    case 0x00:
    case 0x04:
    case 0x0c:
      return 8;
    case 0x02:
    case 0x0a:
      return 2;
    case 0x03:
    case 0x0b:
      return 4;
    default:
      return 0;
  }
}

// ---- the search table (.eh_frame_hdr) ----

// The address of the FDE whose initial location is the last one at or below `pc`, by binary
// search over the sorted table: Stepped when found; NoInfo when the table is missing, malformed
// or starts above `pc`; Unsupported when a read failed.
CRSUnwindResult findFde(const CRSBinaryImage& image, std::uint64_t pc, CRSUnwindBudget* budget,
                        std::uint64_t* fde) {
  std::uint64_t hdr = image.ehFrameHdr;
  Cursor c{budget, hdr, hdr + image.ehFrameHdrSize};
  auto failed = [&c] { return c.failed ? CRSUnwindResult::Unsupported : CRSUnwindResult::NoInfo; };
  std::uint8_t version = c.u8();
  std::uint8_t framePointerEncoding = c.u8();
  std::uint8_t countEncoding = c.u8();
  std::uint8_t tableEncoding = c.u8();
  std::uint64_t ehFrame = 0, count = 0;
  if (c.failed || version != 1 || !readEncoded(c, framePointerEncoding, hdr, &ehFrame) ||
      !readEncoded(c, countEncoding, hdr, &count))
    return failed();
  // Only a table of fixed-size entries can be searched; the linkers write data-relative sdata4.
  int size = encodedSize(tableEncoding);
  if (!size || (tableEncoding & 0x70) != kEncodingDataRelative || count == 0) return CRSUnwindResult::NoInfo;
  std::uint64_t table = c.at;
  std::uint64_t entry = 2 * static_cast<std::uint64_t>(size);
  if (count > (c.end - table) / entry) return CRSUnwindResult::NoInfo;
  auto location = [&](std::uint64_t i, std::uint64_t* value) {
    c.at = table + i * entry;
    return readEncoded(c, tableEncoding, hdr, value);
  };
  std::uint64_t low = 0, high = count;
  while (high - low > 1) {
    std::uint64_t middle = low + (high - low) / 2;
    std::uint64_t start = 0;
    if (!location(middle, &start)) return failed();
    if (start <= pc) {
      low = middle;
    } else {
      high = middle;
    }
  }
  std::uint64_t start = 0;
  if (!location(low, &start)) return failed();
  if (start > pc) return CRSUnwindResult::NoInfo;
  if (!readEncoded(c, tableEncoding, hdr, fde)) return failed();
  return CRSUnwindResult::Stepped;
}

// ---- CIE and FDE records (.eh_frame) ----

struct Cie {
  std::uint64_t codeAlignment = 0;
  std::int64_t dataAlignment = 0;
  std::uint64_t returnAddressRegister = 0;
  std::uint8_t fdeEncoding = 0;  // absptr unless the augmentation names one
  bool hasAugmentationData = false;
  bool signalFrame = false;
  std::uint64_t instructions = 0;
  std::uint64_t end = 0;
};

// Reads a record's length and leaves the cursor's end at the record's end; false for the
// terminator (length 0), a damaged length or a failed read.
bool readRecordLength(Cursor& c) {
  std::uint64_t length = c.fixed(4);
  if (length == 0xffffffff) length = c.fixed(8);
  if (c.failed || length == 0 || length > kMaxRecord) return false;
  c.end = c.at + length;
  return true;
}

bool parseCie(std::uint64_t address, CRSUnwindBudget* budget, Cie* cie) {
  Cursor c{budget, address, address + 16};
  if (!readRecordLength(c) || c.fixed(4) != 0) return false;  // a CIE's identifier is 0
  std::uint8_t version = c.u8();
  if (version != 1 && version != 3 && version != 4) return false;
  char augmentation[8];
  int letters = 0;
  for (;;) {
    char letter = static_cast<char>(c.u8());
    if (c.failed) return false;
    if (!letter) break;
    if (letters == sizeof augmentation) return false;
    augmentation[letters++] = letter;
  }
  if (version == 4 && (c.u8() != 8 || c.u8() != 0)) return false;  // address and segment sizes
  cie->codeAlignment = c.uleb();
  cie->dataAlignment = c.sleb();
  cie->returnAddressRegister = version == 1 ? c.u8() : c.uleb();
  if (letters) {
    // Without "z" first, the size of what the letters add is unknown ("eh" of old compilers).
    if (augmentation[0] != 'z') return false;
    cie->hasAugmentationData = true;
    std::uint64_t length = c.uleb();
    if (c.failed || length > c.end - c.at) return false;
    std::uint64_t dataEnd = c.at + length;
    for (int i = 1; i < letters; ++i) {
      switch (augmentation[i]) {
        case 'R':
          cie->fdeEncoding = c.u8();
          break;
        case 'L':
          c.u8();  // the LSDA's encoding: the FDE's augmentation data is skipped whole
          break;
        case 'P': {
          std::uint8_t encoding = c.u8();
          std::uint64_t personality = 0;
          // Only its size matters here: read as an unapplied value of its format.
          if (!readEncoded(c, encoding & 0x0f, 0, &personality)) return false;
          break;
        }
        case 'S':
          cie->signalFrame = true;
          break;
        default:
          return false;
      }
    }
    if (c.failed || c.at > dataEnd) return false;
    c.at = dataEnd;
  }
  cie->instructions = c.at;
  cie->end = c.end;
  return !c.failed;
}

// ---- the rows of the call frame table ----

enum class RuleKind : std::uint8_t {
  Unspecified,
  Undefined,
  SameValue,
  Offset,     // saved at CFA + operand
  ValOffset,  // the value is CFA + operand
  Register,   // the value is in register `operand`
  Expression,
  ValExpression,
};

struct Rule {
  RuleKind kind = RuleKind::Unspecified;
  std::int64_t operand = 0;
  std::uint64_t block = 0;  // a DWARF expression: its address and length
  std::uint64_t length = 0;
};

struct Row {
  bool cfaIsExpression = false;
  bool cfaSet = false;
  std::uint64_t cfaRegister = 0;
  std::int64_t cfaOffset = 0;
  std::uint64_t cfaBlock = 0;
  std::uint64_t cfaLength = 0;
  Rule rules[CRSUnwindRegisterCount];
};

std::int64_t factored(std::uint64_t value, std::int64_t alignment) {
  return static_cast<std::int64_t>(value * static_cast<std::uint64_t>(alignment));
}
std::int64_t factored(std::int64_t value, std::int64_t alignment) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(value) * static_cast<std::uint64_t>(alignment));
}

struct Program {
  const Cie* cie;
  const Row* initial;  // the CIE's row, for DW_CFA_restore (null while running the CIE itself)
  std::uint64_t target;
  std::uint64_t location;
};

// What an instruction leaves the run to do: go on, stop at a row past the target, or give up (an
// instruction the reader does not take). `NotThisGroup`: the group asked does not hold the opcode.
enum class Flow { Next, PastTarget, Refused, NotThisGroup };

// The rows DW_CFA_remember_state keeps, innermost last.
struct RememberedRows {
  Row rows[kMaxRememberedRows];
  int depth = 0;
};

void setRule(Row& row, std::uint64_t reg, RuleKind kind, std::int64_t operand) {
  // Registers beyond the return address column (vector and flag registers) are not followed.
  if (reg < CRSUnwindRegisterCount) row.rules[reg] = Rule{kind, operand, 0, 0};
}

Flow restoreRule(const Program& p, Row& row, std::uint64_t reg) {
  if (reg >= CRSUnwindRegisterCount) return Flow::Next;
  if (!p.initial) return Flow::Refused;
  row.rules[reg] = p.initial->rules[reg];
  return Flow::Next;
}

Flow advance(Program& p, std::uint64_t delta) {
  p.location += delta * p.cie->codeAlignment;
  return p.location > p.target ? Flow::PastTarget : Flow::Next;
}

// A DWARF expression's length and where it starts; the cursor moves past it.
void readBlock(Cursor& c, std::uint64_t* address, std::uint64_t* length) {
  *length = c.uleb();
  *address = c.at;
  c.skip(*length);
}

// The instructions that move the location, and those that change no rule.
Flow locationInstruction(std::uint8_t op, Cursor& c, Program& p) {
  switch (op) {
    case 0x00:  // DW_CFA_nop
      return Flow::Next;
    case 0x01: {  // DW_CFA_set_loc
      std::uint64_t location = 0;
      if (!readEncoded(c, p.cie->fdeEncoding, 0, &location)) return Flow::Refused;
      p.location = location;
      return p.location > p.target ? Flow::PastTarget : Flow::Next;
    }
    case 0x02:  // DW_CFA_advance_loc1
      return advance(p, c.fixed(1));
    case 0x03:  // DW_CFA_advance_loc2
      return advance(p, c.fixed(2));
    case 0x04:  // DW_CFA_advance_loc4
      return advance(p, c.fixed(4));
    case 0x2e:  // DW_CFA_GNU_args_size: the size of outgoing arguments, no rule
      c.uleb();
      return Flow::Next;
    default:
      return Flow::NotThisGroup;
  }
}

// The instructions that define the CFA.
Flow cfaInstruction(std::uint8_t op, Cursor& c, const Program& p, Row& row) {
  switch (op) {
    case 0x0c:  // DW_CFA_def_cfa
      row.cfaRegister = c.uleb();
      row.cfaOffset = static_cast<std::int64_t>(c.uleb());
      row.cfaIsExpression = false;
      row.cfaSet = true;
      return Flow::Next;
    case 0x0d:  // DW_CFA_def_cfa_register
      if (row.cfaIsExpression) return Flow::Refused;
      row.cfaRegister = c.uleb();
      row.cfaSet = true;
      return Flow::Next;
    case 0x0e:  // DW_CFA_def_cfa_offset
      if (row.cfaIsExpression) return Flow::Refused;
      row.cfaOffset = static_cast<std::int64_t>(c.uleb());
      return Flow::Next;
    case 0x0f:  // DW_CFA_def_cfa_expression
      readBlock(c, &row.cfaBlock, &row.cfaLength);
      row.cfaIsExpression = true;
      row.cfaSet = true;
      return Flow::Next;
    case 0x12:  // DW_CFA_def_cfa_sf
      row.cfaRegister = c.uleb();
      row.cfaOffset = factored(c.sleb(), p.cie->dataAlignment);
      row.cfaIsExpression = false;
      row.cfaSet = true;
      return Flow::Next;
    case 0x13:  // DW_CFA_def_cfa_offset_sf
      if (row.cfaIsExpression) return Flow::Refused;
      row.cfaOffset = factored(c.sleb(), p.cie->dataAlignment);
      return Flow::Next;
    default:
      return Flow::NotThisGroup;
  }
}

// The instructions that give one register its rule.
Flow ruleInstruction(std::uint8_t op, Cursor& c, const Program& p, Row& row) {
  std::int64_t alignment = p.cie->dataAlignment;
  switch (op) {
    case 0x05: {  // DW_CFA_offset_extended
      std::uint64_t reg = c.uleb();
      setRule(row, reg, RuleKind::Offset, factored(c.uleb(), alignment));
      return Flow::Next;
    }
    case 0x06:  // DW_CFA_restore_extended
      return restoreRule(p, row, c.uleb());
    case 0x07:  // DW_CFA_undefined
      setRule(row, c.uleb(), RuleKind::Undefined, 0);
      return Flow::Next;
    case 0x08:  // DW_CFA_same_value
      setRule(row, c.uleb(), RuleKind::SameValue, 0);
      return Flow::Next;
    case 0x09: {  // DW_CFA_register
      std::uint64_t reg = c.uleb();
      std::uint64_t from = c.uleb();
      setRule(row, reg, RuleKind::Register, static_cast<std::int64_t>(from));
      return Flow::Next;
    }
    case 0x10:    // DW_CFA_expression
    case 0x16: {  // DW_CFA_val_expression
      std::uint64_t reg = c.uleb();
      Rule rule{op == 0x10 ? RuleKind::Expression : RuleKind::ValExpression, 0, 0, 0};
      readBlock(c, &rule.block, &rule.length);
      if (reg < CRSUnwindRegisterCount) row.rules[reg] = rule;
      return Flow::Next;
    }
    case 0x11: {  // DW_CFA_offset_extended_sf
      std::uint64_t reg = c.uleb();
      setRule(row, reg, RuleKind::Offset, factored(c.sleb(), alignment));
      return Flow::Next;
    }
    case 0x14: {  // DW_CFA_val_offset
      std::uint64_t reg = c.uleb();
      setRule(row, reg, RuleKind::ValOffset, factored(c.uleb(), alignment));
      return Flow::Next;
    }
    case 0x15: {  // DW_CFA_val_offset_sf
      std::uint64_t reg = c.uleb();
      setRule(row, reg, RuleKind::ValOffset, factored(c.sleb(), alignment));
      return Flow::Next;
    }
    case 0x2f: {  // DW_CFA_GNU_negative_offset_extended
      std::uint64_t reg = c.uleb();
      setRule(row, reg, RuleKind::Offset,
              static_cast<std::int64_t>(0 - static_cast<std::uint64_t>(factored(c.uleb(), alignment))));
      return Flow::Next;
    }
    default:
      return Flow::NotThisGroup;
  }
}

// DW_CFA_remember_state and DW_CFA_restore_state.
Flow stateInstruction(std::uint8_t op, Row& row, RememberedRows& remembered) {
  switch (op) {
    case 0x0a:  // DW_CFA_remember_state
      if (remembered.depth == kMaxRememberedRows) return Flow::Refused;
      remembered.rows[remembered.depth++] = row;
      return Flow::Next;
    case 0x0b:  // DW_CFA_restore_state
      if (remembered.depth == 0) return Flow::Refused;
      row = remembered.rows[--remembered.depth];
      return Flow::Next;
    default:
      return Flow::NotThisGroup;
  }
}

Flow runInstruction(std::uint8_t op, Cursor& c, Program& p, Row& row, RememberedRows& remembered) {
  // The three instructions whose operand is packed in the low six bits.
  std::uint8_t operand = op & 0x3f;
  switch (op & 0xc0) {
    case 0x40:  // DW_CFA_advance_loc
      return advance(p, operand);
    case 0x80:  // DW_CFA_offset
      setRule(row, operand, RuleKind::Offset, factored(c.uleb(), p.cie->dataAlignment));
      return Flow::Next;
    case 0xc0:  // DW_CFA_restore
      return restoreRule(p, row, operand);
    default:
      break;
  }
  Flow flow = locationInstruction(op, c, p);
  if (flow == Flow::NotThisGroup) flow = cfaInstruction(op, c, p, row);
  if (flow == Flow::NotThisGroup) flow = ruleInstruction(op, c, p, row);
  if (flow == Flow::NotThisGroup) flow = stateInstruction(op, row, remembered);
  return flow == Flow::NotThisGroup ? Flow::Refused : flow;
}

// Runs call frame instructions from the cursor to its end or until the location passes the
// target; false for an instruction the reader does not take or a failed read.
bool runInstructions(Cursor& c, Program& p, Row& row) {
  RememberedRows remembered;
  while (c.at < c.end && !c.failed) {
    Flow flow = runInstruction(c.u8(), c, p, row, remembered);
    if (flow == Flow::PastTarget) return true;
    if (flow == Flow::Refused) return false;
  }
  return !c.failed;
}

// ---- DWARF expressions ----

// The state of one evaluation: the expression's cursor and its stack.
struct Machine {
  Cursor c;
  std::uint64_t start;  // the expression's bounds, for the branches
  std::uint64_t end;
  const CRSUnwindRegisters& regs;
  CRSUnwindBudget* budget;
  std::uint64_t stack[kMaxExpressionStack];
  int n = 0;

  bool push(std::uint64_t value) {
    if (n == kMaxExpressionStack) return false;
    stack[n++] = value;
    return true;
  }
  bool pushRegister(std::uint64_t reg, std::int64_t offset) {
    if (reg >= CRSUnwindRegisterCount || !regs.has(static_cast<int>(reg))) return false;
    return push(regs.value[reg] + static_cast<std::uint64_t>(offset));
  }
  // Reads `size` bytes of memory (1 to 8), counted as a word against the budget.
  bool read(std::uint64_t from, int size, std::uint64_t* value) {
    std::uint64_t word = 0;
    if (budget->bytes < 8 || !CRSReadMemory(&word, from, static_cast<std::size_t>(size))) return false;
    budget->bytes -= 8;
    if (size < 8) word &= (std::uint64_t{1} << (8 * size)) - 1;
    *value = word;
    return true;
  }
};

// What one operation did: done, failed (the expression answers nothing), or not of the group
// asked.
enum class Op { Done, Failed, NotThisGroup };

Op outcome(bool ok) {
  return ok ? Op::Done : Op::Failed;
}

// Operations that push a value: literals, constants and register-based values.
Op pushOperation(std::uint8_t op, Machine& m) {
  Cursor& c = m.c;
  if (op >= 0x30 && op <= 0x4f) return outcome(m.push(op - 0x30u));  // DW_OP_lit0..31
  if (op >= 0x70 && op <= 0x8f) {                                    // DW_OP_breg0..31
    std::int64_t offset = c.sleb();
    return outcome(m.pushRegister(op - 0x70u, offset));
  }
  if (op == 0x92) {  // DW_OP_bregx
    std::uint64_t reg = c.uleb();
    std::int64_t offset = c.sleb();
    return outcome(m.pushRegister(reg, offset));
  }
  if (op == 0x03) return outcome(m.push(c.fixed(8)));  // DW_OP_addr
  if (op >= 0x08 && op <= 0x0f) {                      // DW_OP_const1u .. DW_OP_const8s
    static const int kSizes[] = {1, 1, 2, 2, 4, 4, 8, 8};
    int size = kSizes[op - 0x08];
    std::uint64_t value = c.fixed(size);
    if ((op & 1) && size < 8 && (value >> (8 * size - 1)) & 1) value |= ~std::uint64_t{0} << (8 * size);
    return outcome(m.push(value));
  }
  if (op == 0x10) return outcome(m.push(c.uleb()));                              // DW_OP_constu
  if (op == 0x11) return outcome(m.push(static_cast<std::uint64_t>(c.sleb())));  // DW_OP_consts
  return Op::NotThisGroup;
}

// Operations that rearrange the stack.
Op stackOperation(std::uint8_t op, Machine& m) {
  std::uint64_t* s = m.stack;
  int& n = m.n;
  switch (op) {
    case 0x96:  // DW_OP_nop
      return Op::Done;
    case 0x12:  // DW_OP_dup
      return outcome(n >= 1 && m.push(s[n - 1]));
    case 0x13:  // DW_OP_drop
      if (n < 1) return Op::Failed;
      --n;
      return Op::Done;
    case 0x14:  // DW_OP_over
      return outcome(n >= 2 && m.push(s[n - 2]));
    case 0x15: {  // DW_OP_pick
      std::uint8_t index = m.c.u8();
      return outcome(index < n && m.push(s[n - 1 - index]));
    }
    case 0x16:  // DW_OP_swap
      if (n < 2) return Op::Failed;
      std::swap(s[n - 1], s[n - 2]);
      return Op::Done;
    case 0x17: {  // DW_OP_rot
      if (n < 3) return Op::Failed;
      std::uint64_t top = s[n - 1];
      s[n - 1] = s[n - 2];
      s[n - 2] = s[n - 3];
      s[n - 3] = top;
      return Op::Done;
    }
    default:
      return Op::NotThisGroup;
  }
}

// Operations on the top entry: memory reads and unary arithmetic.
Op unaryOperation(std::uint8_t op, Machine& m) {
  std::uint64_t* top = m.n >= 1 ? &m.stack[m.n - 1] : nullptr;
  switch (op) {
    case 0x06:    // DW_OP_deref
    case 0x94: {  // DW_OP_deref_size
      int size = op == 0x06 ? 8 : m.c.u8();
      return outcome(top && size >= 1 && size <= 8 && m.read(*top, size, top));
    }
    case 0x19:  // DW_OP_abs
    case 0x1f:  // DW_OP_neg
    case 0x20:  // DW_OP_not
      if (!top) return Op::Failed;
      if (op == 0x20) {
        *top = ~*top;
      } else if (op == 0x1f || static_cast<std::int64_t>(*top) < 0) {
        *top = 0 - *top;
      }
      return Op::Done;
    case 0x23: {  // DW_OP_plus_uconst
      std::uint64_t value = m.c.uleb();
      if (!top) return Op::Failed;
      *top += value;
      return Op::Done;
    }
    default:
      return Op::NotThisGroup;
  }
}

// `a op b` for a binary operation or a comparison; false for a division by zero or an
// overflowing one.
bool binaryValue(std::uint8_t op, std::uint64_t a, std::uint64_t b, std::uint64_t* r) {
  auto sa = static_cast<std::int64_t>(a), sb = static_cast<std::int64_t>(b);
  switch (op) {
    case 0x1a:  // and
      *r = a & b;
      break;
    case 0x1b:  // div (signed)
      if (b == 0 || (sa == INT64_MIN && sb == -1)) return false;
      *r = static_cast<std::uint64_t>(sa / sb);
      break;
    case 0x1c:  // minus
      *r = a - b;
      break;
    case 0x1d:  // mod
      if (b == 0) return false;
      *r = a % b;
      break;
    case 0x1e:  // mul
      *r = a * b;
      break;
    case 0x21:  // or
      *r = a | b;
      break;
    case 0x22:  // plus
      *r = a + b;
      break;
    case 0x24:  // shl
      *r = b < 64 ? a << b : 0;
      break;
    case 0x25:  // shr
      *r = b < 64 ? a >> b : 0;
      break;
    case 0x26:  // shra
      *r = b < 64 ? static_cast<std::uint64_t>(sa >> b) : (sa < 0 ? ~std::uint64_t{0} : 0);
      break;
    case 0x27:  // xor
      *r = a ^ b;
      break;
    case 0x29:  // eq
      *r = a == b;
      break;
    case 0x2a:  // ge
      *r = sa >= sb;
      break;
    case 0x2b:  // gt
      *r = sa > sb;
      break;
    case 0x2c:  // le
      *r = sa <= sb;
      break;
    case 0x2d:  // lt
      *r = sa < sb;
      break;
    case 0x2e:  // ne
      *r = a != b;
      break;
    default:
      return false;
  }
  return true;
}

// Binary operations: the second entry is the left operand, the top the right one.
Op binaryOperation(std::uint8_t op, Machine& m) {
  if (!((op >= 0x1a && op <= 0x1e) || (op >= 0x21 && op <= 0x27) || (op >= 0x29 && op <= 0x2e)))
    return Op::NotThisGroup;
  if (m.n < 2) return Op::Failed;
  std::uint64_t b = m.stack[--m.n];
  std::uint64_t a = m.stack[m.n - 1];
  std::uint64_t r = 0;
  if (!binaryValue(op, a, b, &r)) return Op::Failed;
  m.stack[m.n - 1] = r;
  return Op::Done;
}

// DW_OP_skip and DW_OP_bra: a jump within the expression (a loop ends at the step limit).
Op branchOperation(std::uint8_t op, Machine& m) {
  if (op != 0x2f && op != 0x28) return Op::NotThisGroup;
  auto offset = static_cast<std::int16_t>(m.c.fixed(2));
  if (op == 0x28) {  // DW_OP_bra: taken when the popped entry is not 0
    if (m.n < 1) return Op::Failed;
    if (m.stack[--m.n] == 0) return Op::Done;
  }
  std::uint64_t target = m.c.at + static_cast<std::uint64_t>(static_cast<std::int64_t>(offset));
  m.c.at = target;
  return outcome(target >= m.start && target <= m.end);
}

// Evaluates a DWARF expression over the frame's registers (the CFA pushed first when `initial`
// is given): literals, constants, register-based values, memory reads, stack operations,
// arithmetic, comparisons and branches. Other operations, an unknown register, a failed read, an
// overflowing or underflowing stack and too many steps answer false.
bool evaluate(std::uint64_t address, std::uint64_t length, const CRSUnwindRegisters& regs,
              const std::uint64_t* initial, CRSUnwindBudget* budget, std::uint64_t* result) {
  Machine m{Cursor{budget, address, address + length}, address, address + length, regs, budget, {}};
  if (initial) m.push(*initial);
  for (int steps = 0; m.c.at < m.c.end; ++steps) {
    if (steps == kMaxExpressionSteps) return false;
    std::uint8_t op = m.c.u8();
    if (m.c.failed) return false;
    Op done = pushOperation(op, m);
    if (done == Op::NotThisGroup) done = stackOperation(op, m);
    if (done == Op::NotThisGroup) done = unaryOperation(op, m);
    if (done == Op::NotThisGroup) done = binaryOperation(op, m);
    if (done == Op::NotThisGroup) done = branchOperation(op, m);
    if (done != Op::Done || m.c.failed) return false;
  }
  if (m.n < 1) return false;
  *result = m.stack[m.n - 1];
  return true;
}

constexpr bool calleeSaved(int reg) {
  return reg == 3 || reg == 6 || (reg >= 12 && reg <= 15);  // rbx, rbp, r12-r15
}

}  // namespace

bool CRSReadMemory(void* destination, std::uint64_t source, std::size_t length) {
  iovec local{destination, length};
  iovec remote{reinterpret_cast<void*>(source), length};
  return ::process_vm_readv(::getpid(), &local, 1, &remote, 1, 0) == static_cast<ssize_t>(length);
}

bool CRSUnwindRead(CRSUnwindBudget* budget, std::uint64_t address, void* destination, std::size_t length) {
  if (length > ~address) return false;
  Cursor c{budget, address, address + length};
  auto* out = static_cast<std::uint8_t*>(destination);
  for (std::size_t i = 0; i < length; ++i) out[i] = c.u8();
  return !c.failed;
}

CRSUnwindRegisters CRSUnwindRegistersFromMachine(const std::uint64_t* gregs) {
  static const int kMachineIndex[CRSUnwindRegisterCount] = {
      REG_RAX, REG_RDX, REG_RCX, REG_RBX, REG_RSI, REG_RDI, REG_RBP, REG_RSP, REG_R8,
      REG_R9,  REG_R10, REG_R11, REG_R12, REG_R13, REG_R14, REG_R15, REG_RIP};
  CRSUnwindRegisters regs{};
  for (int i = 0; i < CRSUnwindRegisterCount; ++i) regs.set(i, gregs[kMachineIndex[i]]);
  return regs;
}

CRSUnwindResult CRSUnwindStep(const CRSBinaryImage& image, const CRSUnwindRegisters& frame, bool exact,
                              CRSUnwindRegisters* caller, CRSUnwindStepInfo* info, CRSUnwindBudget* budget) {
  if (!frame.has(CRSUnwindPC) || !frame.has(CRSUnwindRSP)) return CRSUnwindResult::Unsupported;
  if (!image.ehFrameHdr) return CRSUnwindResult::NoInfo;
  std::uint64_t pc = frame.value[CRSUnwindPC];
  // A return address may follow a call that ends its function: the call itself is looked up.
  std::uint64_t lookup = exact ? pc : pc - 1;
  std::uint64_t fde = 0;
  CRSUnwindResult found = findFde(image, lookup, budget, &fde);
  if (found != CRSUnwindResult::Stepped) return found;

  Cursor f{budget, fde, fde + 16};
  if (!readRecordLength(f)) return CRSUnwindResult::Unsupported;
  std::uint64_t cieField = f.at;
  std::uint64_t cieOffset = f.fixed(4);
  if (f.failed || cieOffset == 0 || cieOffset > cieField) return CRSUnwindResult::Unsupported;
  Cie cie;
  if (!parseCie(cieField - cieOffset, budget, &cie)) return CRSUnwindResult::Unsupported;
  if (cie.returnAddressRegister != CRSUnwindPC) return CRSUnwindResult::Unsupported;
  std::uint64_t start = 0, range = 0;
  if (!readEncoded(f, cie.fdeEncoding, 0, &start) || !readEncoded(f, cie.fdeEncoding & 0x0f, 0, &range))
    return CRSUnwindResult::Unsupported;
  // The table's nearest entry may end below the pc (a gap between functions).
  if (lookup < start || lookup - start >= range) return CRSUnwindResult::NoInfo;
  if (cie.hasAugmentationData) f.skip(f.uleb());
  if (f.failed) return CRSUnwindResult::Unsupported;

  Row initial;
  Cursor ci{budget, cie.instructions, cie.end};
  Program program{&cie, nullptr, ~std::uint64_t{0}, start};
  if (!runInstructions(ci, program, initial)) return CRSUnwindResult::Unsupported;
  Row row = initial;
  program = Program{&cie, &initial, lookup, start};
  if (!runInstructions(f, program, row) || !row.cfaSet) return CRSUnwindResult::Unsupported;

  std::uint64_t cfa = 0;
  if (row.cfaIsExpression) {
    if (!evaluate(row.cfaBlock, row.cfaLength, frame, nullptr, budget, &cfa))
      return CRSUnwindResult::Unsupported;
  } else {
    if (row.cfaRegister >= CRSUnwindRegisterCount || !frame.has(static_cast<int>(row.cfaRegister)))
      return CRSUnwindResult::Unsupported;
    cfa = frame.value[row.cfaRegister] + static_cast<std::uint64_t>(row.cfaOffset);
  }

  const Rule& returnAddress = row.rules[CRSUnwindPC];
  if (returnAddress.kind == RuleKind::Undefined) return CRSUnwindResult::Outermost;
  CRSUnwindRegisters next{};
  next.set(CRSUnwindRSP, cfa);
  for (int reg = 0; reg < CRSUnwindRegisterCount; ++reg) {
    const Rule& rule = row.rules[reg];
    std::uint64_t value = 0, address = 0;
    switch (rule.kind) {
      case RuleKind::Unspecified:
        // The return address always has a rule; without one the frame would repeat itself.
        if (reg == CRSUnwindPC) return CRSUnwindResult::Unsupported;
        if (calleeSaved(reg) && frame.has(reg)) next.set(reg, frame.value[reg]);
        continue;
      case RuleKind::Undefined:
        if (reg == CRSUnwindRSP) next.known &= ~(1u << CRSUnwindRSP);
        continue;
      case RuleKind::SameValue:
        if (frame.has(reg)) next.set(reg, frame.value[reg]);
        continue;
      case RuleKind::Offset:
        address = cfa + static_cast<std::uint64_t>(rule.operand);
        break;
      case RuleKind::ValOffset:
        next.set(reg, cfa + static_cast<std::uint64_t>(rule.operand));
        continue;
      case RuleKind::Register:
        if (rule.operand >= 0 && rule.operand < CRSUnwindRegisterCount &&
            frame.has(static_cast<int>(rule.operand))) {
          next.set(reg, frame.value[rule.operand]);
        } else if (reg == CRSUnwindPC) {
          return CRSUnwindResult::Unsupported;
        }
        continue;
      case RuleKind::Expression:
        if (!evaluate(rule.block, rule.length, frame, &cfa, budget, &address)) {
          if (reg == CRSUnwindPC || reg == CRSUnwindRSP) return CRSUnwindResult::Unsupported;
          continue;
        }
        break;
      case RuleKind::ValExpression:
        if (evaluate(rule.block, rule.length, frame, &cfa, budget, &value)) {
          next.set(reg, value);
        } else if (reg == CRSUnwindPC || reg == CRSUnwindRSP) {
          return CRSUnwindResult::Unsupported;
        }
        continue;
    }
    // A saved value: read it (8 bytes, naturally inside one block when aligned).
    Cursor s{budget, address, address + 8};
    value = s.fixed(8);
    if (s.failed) {
      if (reg == CRSUnwindPC || reg == CRSUnwindRSP) return CRSUnwindResult::Unsupported;
      continue;
    }
    next.set(reg, value);
  }
  if (!next.has(CRSUnwindPC) || !next.has(CRSUnwindRSP)) return CRSUnwindResult::Unsupported;
  *caller = next;
  if (info) info->signalFrame = cie.signalFrame;
  return CRSUnwindResult::Stepped;
}
