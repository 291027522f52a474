// The patcher against the writer: a hive the writer made, changed in place,
// reads as the writer's hive of the changed tree does (our reader, hivex and
// libregf agree), passes the strict checker and keeps Windows' order. On a
// damaged hive it gives errors, never a read or write out of bounds (the
// sanitizer build runs it).
#include "platform/posix/hive/hive_patcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/posix/hive/hive_format.h"
#include "platform/posix/hive/hive_reader.h"
#include "platform/posix/hive/hive_writer.h"
#include "platform/posix/hive/testing/hive_views.h"
#include "platform/posix/hive/testing/strict_check.h"
#include "platform/posix/hive/testing/windows_order.h"
#include "tests/support/process_runner.h"

namespace orvik::posix::hive {
namespace {

using orvik::test::TempDir;
using orvik::test::WriteFileBytes;

// A key tree in memory, which the writer lays out.
struct Node {
  KeyContent key;
  std::vector<Node> children;

  Node* Child(std::u16string_view name) {
    for (Node& child : children) {
      if (child.key.name == name) return &child;
    }
    return nullptr;
  }
  const Node* Child(std::u16string_view name) const { return const_cast<Node*>(this)->Child(name); }
  // The value of that name, which a change in the table below expects.
  ValueContent& Value(std::u16string_view name) {
    for (ValueContent& value : key.values) {
      if (value.name == name) return value;
    }
    throw std::logic_error("the tree has no such value");
  }
};

void WriteNode(const Node& node, HiveWriter& writer) {
  writer.BeginKey({node.key.name, node.key.class_name, node.key.security, node.key.last_write});
  for (const ValueContent& value : node.key.values)
    writer.AddValue(value.name, value.type, value.data);
  for (const Node& child : node.children) WriteNode(child, writer);
  writer.EndKey();
}

std::string Write(const Node& root) {
  HiveWriter writer;
  WriteNode(root, writer);
  EXPECT_EQ(writer.Finish(u"sample", 132000000000000000), ERROR_SUCCESS);
  return writer.Bytes();
}

Node Key(std::u16string name, std::vector<ValueContent> values = {},
         std::vector<Node> children = {}) {
  return Node{KeyContent{std::move(name), u"", "", 131000000000000000, std::move(values)},
              std::move(children)};
}

// Subkeys K0000, K0001, ... of one key.
std::vector<Node> Many(int count) {
  std::vector<Node> children;
  for (int i = 0; i < count; ++i) {
    char16_t name[] = u"K0000";
    for (int d = 4, n = i; d >= 1; --d, n /= 10) name[d] = static_cast<char16_t>(u'0' + n % 10);
    children.push_back(Key(name));
  }
  return children;
}

Node Sample() {
  Node root =
      Key(u"ROOT",
          {{u"", 1, std::string("d\0e\0f\0\0\0", 8)},
           {u"dword", 4, std::string("\x01\x02\x03\x04", 4)},
           {u"three", 3, "abc"},
           {u"five", 3, "abcde"},
           {u"big", 3, std::string(40000, 'x') + "end"},
           {u"\u65e5\u672c", 7, std::string("a\0\0\0", 4)}},
          {Key(u"zeta"), Key(u"Alpha", {}, {Key(u"Inner", {{u"x", 4, "1234"}})}),
           Key(u"Leaf", {}, Many(507)), Key(u"Root", {}, Many(1100)), Key(u"Two", {}, Many(508))});
  root.key.security = test::OtherSecurity();
  root.Child(u"zeta")->key.class_name = u"Class\u263a";
  root.Child(u"Alpha")->key.security = test::OtherSecurity();
  return root;
}

class Patched {
 public:
  explicit Patched(const std::string& bytes) {
    EXPECT_EQ(HiveImage::FromBytes(bytes, &image_), ERROR_SUCCESS);
    EXPECT_EQ(HivePatcher::Open(image_.get(), &patcher_), ERROR_SUCCESS);
  }
  HivePatcher& patcher() { return *patcher_; }
  HiveImage& image() { return *image_; }
  // The cell of the key at `path` below the root.
  uint32_t Cell(const std::vector<std::u16string>& path) {
    std::unique_ptr<HiveReader> reader;
    EXPECT_EQ(HiveReader::FromBytes(image_->data(), image_->size(), &reader), ERROR_SUCCESS);
    uint32_t cell = reader->root();
    for (const std::u16string& name : path) {
      KeyNode node;
      EXPECT_EQ(reader->ReadKey(cell, &node), ERROR_SUCCESS);
      EXPECT_EQ(reader->FindSubkey(node, name, &cell), ERROR_SUCCESS) << WideToUtf8(name);
    }
    return cell;
  }
  std::string Bytes() {
    EXPECT_EQ(patcher_->Finish(132000000000000000), ERROR_SUCCESS);
    const uint32_t bins = Load32(image_->data() + kDataSizeOffset);
    return std::string(reinterpret_cast<const char*>(image_->data()), kBaseBlockSize + bins);
  }

 private:
  std::unique_ptr<HiveImage> image_;
  std::unique_ptr<HivePatcher> patcher_;
};

// The same change made to the tree in memory and to the hive in place.
struct Change {
  const char* what;
  std::function<void(Node&)> tree;
  std::function<LONG(Patched&, const Node&)> hive;
};

// Gives the key at `path` of the changed tree to the patcher.
LONG Update(Patched& p, const Node& root, const std::vector<std::u16string>& path) {
  const Node* node = &root;
  for (const std::u16string& name : path) node = node->Child(name);
  return p.patcher().UpdateKey(path.empty() ? p.patcher().root() : p.Cell(path), node->key);
}

const Change kChanges[] = {
    {"a value added",
     [](Node& t) {
       t.key.values.push_back({u"New", 1, std::string("n\0e\0w\0\0\0", 8)});
     },
     [](Patched& p, const Node& t) { return Update(p, t, {}); }},
    {"an inline value changed", [](Node& t) { t.Value(u"dword").data = "\x09\x08"; },
     [](Patched& p, const Node& t) { return Update(p, t, {}); }},
    {"a value's type changed", [](Node& t) { t.Value(u"three").type = 0x12345678; },
     [](Patched& p, const Node& t) { return Update(p, t, {}); }},
    {"a value outgrows its cell", [](Node& t) { t.Value(u"five").data = std::string(300, 'f'); },
     [](Patched& p, const Node& t) { return Update(p, t, {}); }},
    {"a value moves to big data", [](Node& t) { t.Value(u"five").data = std::string(40000, 'g'); },
     [](Patched& p, const Node& t) { return Update(p, t, {}); }},
    {"big data becomes one cell", [](Node& t) { t.Value(u"big").data = "small now"; },
     [](Patched& p, const Node& t) { return Update(p, t, {}); }},
    {"a value removed",
     [](Node& t) {
       std::erase_if(t.key.values, [](const ValueContent& v) { return v.name == u"three"; });
     },
     [](Patched& p, const Node& t) { return Update(p, t, {}); }},
    {"the values reordered",
     [](Node& t) {
       std::rotate(t.key.values.begin(), t.key.values.begin() + 2, t.key.values.end());
     },
     [](Patched& p, const Node& t) { return Update(p, t, {}); }},
    {"a value's name spelled anew", [](Node& t) { t.Value(u"dword").name = u"DWord"; },
     [](Patched& p, const Node& t) { return Update(p, t, {}); }},
    {"a value's name spelled beyond 8 bits",
     [](Node& t) { t.Value(u"dword").name = u"dw\u00f6rd\u4e00"; },
     [](Patched& p, const Node& t) { return Update(p, t, {}); }},
    {"the last value removed",
     [](Node& t) { t.Child(u"Alpha")->Child(u"Inner")->key.values.clear(); },
     [](Patched& p, const Node& t) {
       return Update(p, t, {u"Alpha", u"Inner"});
     }},
    {"a class name set, changed and removed",
     [](Node& t) {
       t.Child(u"Alpha")->key.class_name = u"new class";
       t.Child(u"zeta")->key.class_name = u"other";
       t.Child(u"Leaf")->key.class_name = u"";
     },
     [](Patched& p, const Node& t) {
       for (const char16_t* name : {u"Alpha", u"zeta", u"Leaf"}) {
         if (LONG rc = Update(p, t, {name}); rc != ERROR_SUCCESS) return rc;
       }
       return LONG{ERROR_SUCCESS};
     }},
    {"a key's descriptor changed to a new one and to a shared one",
     [](Node& t) {
       std::string sd = test::OtherSecurity();
       sd[1] = 7;
       t.Child(u"zeta")->key.security = sd;
       t.Child(u"Alpha")->key.security = "";
     },
     [](Patched& p, const Node& t) {
       if (LONG rc = Update(p, t, {u"zeta"}); rc != ERROR_SUCCESS) return rc;
       return Update(p, t, {u"Alpha"});
     }},
    {"a key's time changed", [](Node& t) { t.Child(u"zeta")->key.last_write = 5; },
     [](Patched& p, const Node& t) { return Update(p, t, {u"zeta"}); }},
    {"a key added with values, class and descriptor",
     [](Node& t) {
       Node added = Key(u"Beta\u00e9", {{u"v", 3, std::string(20000, 'b')}, {u"w", 4, "wwww"}});
       added.key.class_name = u"cls";
       added.key.security = test::OtherSecurity();
       t.children.push_back(added);
     },
     [](Patched& p, const Node& t) {
       uint32_t cell = 0;
       return p.patcher().AddKey(p.patcher().root(), t.Child(u"Beta\u00e9")->key, &cell);
     }},
    {"a key added under a key without subkeys",
     [](Node& t) { t.Child(u"zeta")->children.push_back(Key(u"\u4e00new")); },
     [](Patched& p, const Node& t) {
       uint32_t cell = 0;
       return p.patcher().AddKey(p.Cell({u"zeta"}), t.Child(u"zeta")->Child(u"\u4e00new")->key,
                                 &cell);
     }},
    {"a key added to a full leaf, which splits",
     [](Node& t) { t.Child(u"Leaf")->children.push_back(Key(u"K0300x")); },
     [](Patched& p, const Node& t) {
       uint32_t cell = 0;
       return p.patcher().AddKey(p.Cell({u"Leaf"}), t.Child(u"Leaf")->Child(u"K0300x")->key, &cell);
     }},
    {"keys added to the leaves of an index root, first, middle and last",
     [](Node& t) {
       for (const char16_t* name : {u"A", u"K0600x", u"K0506x", u"Z"})
         t.Child(u"Root")->children.push_back(Key(name));
     },
     [](Patched& p, const Node& t) {
       for (const char16_t* name : {u"A", u"K0600x", u"K0506x", u"Z"}) {
         uint32_t cell = 0;
         if (LONG rc =
                 p.patcher().AddKey(p.Cell({u"Root"}), t.Child(u"Root")->Child(name)->key, &cell);
             rc != ERROR_SUCCESS) {
           return rc;
         }
       }
       return LONG{ERROR_SUCCESS};
     }},
    {"a key tree removed",
     [](Node& t) {
       std::erase_if(t.children, [](const Node& n) { return n.key.name == u"Alpha"; });
     },
     [](Patched& p, const Node&) {
       return p.patcher().RemoveKey(p.patcher().root(), p.Cell({u"Alpha"}));
     }},
    {"the only key of a leaf under an index root removed",
     [](Node& t) {
       std::erase_if(t.Child(u"Two")->children,
                     [](const Node& n) { return n.key.name == u"K0507"; });
     },
     [](Patched& p, const Node&) {
       return p.patcher().RemoveKey(p.Cell({u"Two"}), p.Cell({u"Two", u"K0507"}));
     }},
    {"a key with 1100 subkeys removed",
     [](Node& t) {
       std::erase_if(t.children, [](const Node& n) { return n.key.name == u"Root"; });
     },
     [](Patched& p, const Node&) {
       return p.patcher().RemoveKey(p.patcher().root(), p.Cell({u"Root"}));
     }},
    {"every subkey of a key removed", [](Node& t) { t.Child(u"Alpha")->children.clear(); },
     [](Patched& p, const Node&) {
       return p.patcher().RemoveKey(p.Cell({u"Alpha"}), p.Cell({u"Alpha", u"Inner"}));
     }},
};

TEST(HivePatcherTest, ChangesReadAsTheWritersHiveOfTheChangedTree) {
  TempDir temp;
  const std::string original = Write(Sample());
  const test::ViewFields all{true, true, true, false};
  const test::ViewFields libregf{true, true, true, true};
  for (const Change& change : kChanges) {
    SCOPED_TRACE(change.what);
    Node tree = Sample();
    change.tree(tree);
    Patched patched(original);
    ASSERT_EQ(change.hive(patched, tree), ERROR_SUCCESS);
    const std::string bytes = patched.Bytes();
    WriteFileBytes(temp.File("patched"), bytes);
    WriteFileBytes(temp.File("expected"), Write(tree));
    long error = 0;
    EXPECT_TRUE(test::SameLines(test::OurView(temp.File("expected"), all, &error),
                                test::OurView(temp.File("patched"), all, &error)));
    EXPECT_TRUE(test::SameLines(
        test::HivexView(temp.File("expected"), {false, false, true, false}, &error),
        test::HivexView(temp.File("patched"), {false, false, true, false}, &error)));
    EXPECT_TRUE(test::SameLines(test::LibregfView(temp.File("expected"), libregf, &error),
                                test::LibregfView(temp.File("patched"), libregf, &error)));
    EXPECT_EQ(error, 0);
    EXPECT_TRUE(test::ListsInWindowsOrder(bytes));
    if (const auto findings = test::StrictFindings(temp.File("patched"))) {
      EXPECT_EQ(*findings, std::vector<std::string>{});
    }
  }
}

TEST(HivePatcherTest, DamagedHivesGiveErrorsNotHarm) {
  const std::string good =
      Write(Key(u"ROOT", {{u"v", 3, std::string(40, 'v')}, {u"d", 4, "1234"}},
                {Key(u"Sub", {{u"w", 3, std::string(30, 'w')}}, {Key(u"Deeper")}), Key(u"Zed")}));
  unsigned seed = 7;
  int refused = 0;
  for (int round = 0; round < 300; ++round) {
    std::string bad = good;
    for (int flips = 0; flips < 3; ++flips) {
      seed = seed * 1103515245u + 12345u;
      const size_t at = kBaseBlockSize + (seed >> 8) % (good.size() - kBaseBlockSize);
      bad[at] = static_cast<char>(static_cast<unsigned>(bad[at]) ^ (1u + (seed & 0xFFu) % 255u));
    }
    std::unique_ptr<HiveImage> image;
    ASSERT_EQ(HiveImage::FromBytes(bad, &image), ERROR_SUCCESS);
    std::unique_ptr<HivePatcher> patcher;
    if (HivePatcher::Open(image.get(), &patcher) != ERROR_SUCCESS) {
      ++refused;
      continue;
    }
    std::unique_ptr<HiveReader> reader;
    uint32_t sub = 0;
    KeyNode root;
    const bool found =
        HiveReader::FromBytes(image->data(), image->size(), &reader) == ERROR_SUCCESS &&
        reader->ReadKey(reader->root(), &root) == ERROR_SUCCESS &&
        reader->FindSubkey(root, u"Sub", &sub) == ERROR_SUCCESS;
    // Whatever each gives, it stays inside the image.
    patcher->UpdateKey(patcher->root(), {u"", u"class", "", 3, {{u"v", 3, "new"}}});
    uint32_t cell = 0;
    patcher->AddKey(patcher->root(), {u"Added", u"", "", 3, {{u"a", 4, "1234"}}}, &cell);
    if (found) patcher->RemoveKey(patcher->root(), sub);
    patcher->Finish(4);
  }
  EXPECT_GT(refused, 0);
}

}  // namespace
}  // namespace orvik::posix::hive
