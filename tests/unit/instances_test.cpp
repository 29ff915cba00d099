// The instance table's rules with an in-memory platform: ownership and its
// hand-over, the list with its clamped count, and the reassembly of chunks
// and argument payloads that another process may have garbled.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <set>

#include "instances/instance_filter.h"
#include "instances/instance_messages.h"
#include "instances/instance_registry.h"

namespace qlx {
namespace {

struct FakePlatform : InstancePlatform {
  InstanceTable* memory;
  uint32_t id;
  std::set<uint32_t>* alive;
  bool objects = false;
  int created = 0;
  uint32_t attached = 0;

  FakePlatform(InstanceTable* table, uint32_t own, std::set<uint32_t>* running)
      : memory(table), id(own), alive(running) {}
  InstanceTable* table() override { return memory; }
  uint32_t ownProcessId() override { return id; }
  bool isAlive(uint32_t other) override { return alive->count(other) != 0; }
  bool hasSyncObjects() override { return objects; }
  void createSyncObjects() override { objects = true, ++created; }
  void publishedValues(uint64_t& m, uint64_t& e) override { m = id * 10, e = id * 10 + 1; }
  void attachOwner(uint32_t owner, uint64_t, uint64_t) override { attached = owner, objects = true; }
  bool attachedOwnerRunning() override { return attached != 0 && isAlive(attached); }
  void detachOwner() override { attached = 0; }
  bool lockSlot() override { return false; }
  void unlockSlot() override {}
  void signalChange() override {}
  void waitForChange(int32_t, uint32_t) override {}
  void wake(uint32_t) override {}
  void releaseTable() override {}
};

TEST(InstanceRegistry, OwnershipListAndTakeOver) {
  alignas(8) static unsigned char memory[4096];
  std::memset(memory, 0, sizeof(memory));
  InstanceTable* table = tableAt(memory);
  std::set<uint32_t> alive{100, 200, 300};
  FakePlatform first(table, 100, &alive), second(table, 200, &alive), third(table, 300, &alive);
  InstanceRegistry a(first), b(second), c(third);

  a.registerInstance();
  EXPECT_EQ(a.instances(), (std::vector<uint32_t>{100, 100}));  // listed until the next prune
  b.registerInstance();
  EXPECT_EQ(b.instances(), (std::vector<uint32_t>{100, 200}));
  EXPECT_EQ(second.attached, 100u);
  EXPECT_EQ(loadHandleValue(table->mutexHandle), 1000u);

  // The owner dies: the next to look takes over and keeps the objects it
  // duplicated; a process that never had any makes fresh ones.
  alive.erase(100);
  b.syncOwner();
  EXPECT_EQ(table->ownerProcessId.load(), 200u);
  EXPECT_EQ(second.created, 0);
  EXPECT_EQ(loadHandleValue(table->eventHandle), 2001u);
  alive.erase(200);
  c.registerInstance();
  EXPECT_EQ(table->ownerProcessId.load(), 300u);
  EXPECT_EQ(third.created, 1);
  EXPECT_EQ(c.instances(), (std::vector<uint32_t>{300, 300}));

  // Whatever count another process left, the list is read within its bounds
  // and a full list takes no more.
  alive.insert(400);
  struct Row {
    int32_t count;
    uint32_t everyOther;  // the id of every second entry (300 is the owner: pruned)
    size_t seen;          // owner + listed after registering
  } rows[] = {{100000, 400, 251}, {-7, 400, 2}, {250, 300, 127}};
  for (const Row& row : rows) {
    for (int i = 0; i < kMaxInstances; ++i) table->instanceIds[i].store(i % 2 ? row.everyOther : 400);
    table->instanceCount.store(row.count);
    c.registerInstance();
    EXPECT_EQ(c.instances().size(), row.seen) << row.count;
  }
}

struct ChunkRow {
  const char* what;
  uint32_t sender, serial;
  int32_t index, lastIndex;
  uint32_t size;
  int32_t length;
  bool completes;
  size_t partial;  // partial messages afterwards
};

TEST(ChunkAssembler, ChecksEveryField) {
  static const uint8_t data[kChunkCapacity] = {1, 2, 3};
  const ChunkRow rows[] = {
      {"one chunk of 1024", 7, 1, 0, 0, 1024, 1024, true, 0},
      {"first of 1025", 7, 2, 0, 1, 1025, 1024, false, 1},
      {"second of 1025", 7, 2, 1, 1, 1025, 1, true, 0},
      {"length past the slot", 7, 3, 0, 0, 2000, 2000, false, 0},
      {"negative length", 7, 4, 0, 0, 10, -1, false, 0},
      {"length not the rest", 7, 5, 0, 0, 10, 9, false, 0},
      {"last index wrong", 7, 6, 0, 5, 10, 10, false, 0},
      {"index past the last", 7, 7, 3, 1, 1025, 1, false, 0},
      {"size beyond the cap", 7, 8, 0, 65536, kMaxMessageSize + 1, 1024, false, 0},
      {"empty message", 7, 9, 0, 0, 0, 0, false, 0},
      {"no first chunk", 7, 10, 1, 1, 2048, 1024, false, 0},
      {"start of a long one", 7, 11, 0, 2, 3000, 1024, false, 1},
      {"another sender's chunk", 8, 11, 1, 2, 3000, 1024, false, 0},
      {"start again", 7, 12, 0, 2, 3000, 1024, false, 1},
      {"a chunk lost", 7, 12, 2, 2, 3000, 952, false, 0},
  };
  ChunkAssembler assembler;
  for (const ChunkRow& row : rows) {
    uint32_t sender = 0;
    Bytes message;
    const Chunk chunk{row.sender, row.serial, row.index, row.lastIndex, row.size, row.length, data};
    EXPECT_EQ(assembler.take(chunk, 0, sender, message), row.completes) << row.what;
    EXPECT_EQ(assembler.partialMessages(), row.partial) << row.what;
    if (row.completes) EXPECT_EQ(message.size(), row.size) << row.what;
  }
  // Partial messages of senders that died are let go.
  uint32_t sender = 0;
  Bytes message;
  assembler.take(Chunk{9, 20, 0, 1, 2000, 1024, data}, 0, sender, message);
  assembler.dropDeadSenders([](uint32_t id) { return id != 9; });
  EXPECT_EQ(assembler.partialMessages(), 0u);
}

// One budget for every partial message, whoever sent it, and a time limit
// for a message whose next chunk does not come.
TEST(ChunkAssembler, BudgetAndTimeLimit) {
  static const uint8_t data[kChunkCapacity] = {};
  struct Step {
    const char* what;
    uint32_t sender, serial;
    int32_t index;
    uint64_t at;      // ms
    size_t elsewhere;  // bytes of complete messages awaiting delivery
    bool completes;
    size_t partial, bytes;
  } steps[] = {
      {"a starts", 1, 1, 0, 0, 0, false, 1, 1024},
      {"b starts", 2, 2, 0, 0, 0, false, 2, 2048},
      {"a goes on, to the budget", 1, 1, 1, 10, 0, false, 2, 3072},
      {"c would pass the budget", 3, 3, 0, 10, 0, false, 2, 3072},
      {"with deliveries waiting, b would pass it", 2, 2, 1, 20, 1024, false, 1, 2048},
      {"a, stalled past the limit, is gone", 1, 1, 2, 10 + 1001, 0, false, 0, 0},
      {"d starts", 4, 4, 0, 2000, 0, false, 1, 1024},
  };
  ChunkAssembler assembler(3072, 1000);
  for (const Step& step : steps) {
    uint32_t sender = 0;
    Bytes message;
    assembler.setHeldElsewhere(step.elsewhere);
    const Chunk chunk{step.sender, step.serial, step.index, 3, 4000,
                      step.index == 3 ? 928 : 1024, data};
    EXPECT_EQ(assembler.take(chunk, step.at, sender, message), step.completes) << step.what;
    EXPECT_EQ(assembler.partialMessages(), step.partial) << step.what;
    EXPECT_EQ(assembler.partialBytes(), step.bytes) << step.what;
  }
  assembler.dropExpired(2000 + 1001);
  EXPECT_EQ(assembler.partialBytes(), 0u);
}

TEST(InstanceFilter, DefaultAndConfigured) {
  const std::string plain =
      "java.lang.String;java.lang.Boolean;java.lang.Character;java.lang.Byte;java.lang.Short;"
      "java.lang.Integer;java.lang.Long;java.lang.Float;java.lang.Double;java.lang.Number;"
      "java.lang.Enum;java.lang.Object;java.util.*;";
  struct Row {
    const char* configured;
    const char* mainClass;
    std::string filter;
  } rows[] = {
      {"", "com.example.app.Main", plain + "com.example.app.**;!*"},
      {"", "com/example/Main", plain + "com.example.**;!*"},
      {"", "Main", plain + "!*"},  // no package: none admitted
      {"", ".Main", plain + "!*"},
      {"com.example.**;!*", "x.Main", "com.example.**;!*"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(instanceFilterText(row.configured, row.mainClass), row.filter) << row.mainClass;
  }
}

// The grammar's table, which the Java filter's test reads too.
TEST(InstanceFilter, OneGrammarWithTheJavaSide) {
  std::ifstream table(QLX_SOURCE_DIR "/tests/data/instancefilter_grammar.tsv");
  ASSERT_TRUE(table.good());
  int rows = 0;
  for (std::string line; std::getline(table, line);) {
    if (line.empty() || line[0] == '#') continue;
    const size_t a = line.find('\t'), b = line.find('\t', a + 1);
    std::string filter = line.substr(a + 1, b - a - 1);
    for (size_t at; (at = filter.find("\\t")) != std::string::npos;) filter.replace(at, 2, "\t");
    const std::string problem = line.substr(b + 1);
    EXPECT_EQ(instanceFilterProblem(filter), problem) << filter;
    EXPECT_EQ(line.substr(0, a) == "ok", problem.empty()) << line;
    ++rows;
  }
  EXPECT_GT(rows, 20);
}

// What another process wrote reaches a log line or the terminal harmless.
TEST(InstanceMessages, TextFromOthersIsMadeHarmless) {
  struct LogRow {
    std::u16string raw, logged;
  } logRows[] = {
      {u"gadget.Gadget is not accepted", u"gadget.Gadget is not accepted"},
      {u"a\x1b[2J\nfake line\r\t", u"a\\x1b[2J\\x0afake line\\x0d\\x09"},
      {u"\x7f\x9b\u2028\u202e\u2066", u"\\x7f\\x9b\\u2028\\u202e\\u2066"},
      {u"\u00e9t\u00e9 \u20ac", u"\u00e9t\u00e9 \u20ac"},  // printable text beyond ASCII stays
  };
  for (const LogRow& row : logRows) {
    const std::vector<uint16_t> logged =
        escapedForLog(reinterpret_cast<const uint16_t*>(row.raw.data()), row.raw.size());
    EXPECT_EQ(std::u16string(logged.begin(), logged.end()), row.logged);
  }

  struct AnswerRow {
    std::string raw, printed;
  } answerRows[] = {
      {"opened 3 files\r\n\tdone", "opened 3 files\r\n\tdone"},
      {"\x1b]0;title\x07x\x7f", "\\x1b]0;title\\x07x\\x7f"},
      {std::string("up to\0 the zero", 16), "up to"},
      {"\xc3\xa9\xe2\x82\xac", "\xc3\xa9\xe2\x82\xac"},  // UTF-8 as it came
  };
  for (const AnswerRow& row : answerRows) {
    EXPECT_EQ(printableAnswer(reinterpret_cast<const uint8_t*>(row.raw.data()), row.raw.size()),
              row.printed);
  }
}

TEST(InstanceMessages, ArgumentPayloads) {
  const Bytes built = buildArgumentsMessage({"a", "", "b c"});
  StringList parsed;
  ASSERT_TRUE(parseArguments(built.data() + kMessageHeaderSize, built.size() - kMessageHeaderSize,
                             parsed));
  EXPECT_EQ(parsed, (StringList{"a", "", "b c"}));
  struct Row {
    const char* what;
    std::string payload;
    bool ok;
  } rows[] = {
      {"count past the end", std::string("\x05\0\0\0a\0\0", 7), false},
      {"negative count", std::string("\xff\xff\xff\xff\0", 5), false},
      {"string without its zero", std::string("\x01\0\0\0abc", 7), false},
      {"short header", std::string("\x01\0", 2), false},
      {"no strings", std::string("\0\0\0\0\0", 5), true},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(parseArguments(reinterpret_cast<const uint8_t*>(row.payload.data()),
                             row.payload.size(), parsed),
              row.ok)
        << row.what;
  }
}

}  // namespace
}  // namespace qlx
