// Data sources and data links: which callbacks a data-aware control sees for each dataset
// operation, and how DisableControls / EnableControls hold them back.
#include <gtest/gtest.h>

#include <memory>

#include "platform/dataset/datasource.h"
#include "tests/tables/components/memory_dataset.h"

namespace tz::testing {
namespace {

using Log = std::vector<std::string>;

class RecordingLink : public TDataLink {
 public:
  Log log;
  // Written into NAME when asked to update the data, like an edit control holding a text.
  std::string editor_text;

  Log Take() {
    Log taken;
    taken.swap(log);
    return taken;
  }

 protected:
  void ActiveChanged() override { log.push_back(Active() ? "ActiveChanged(1)" : "ActiveChanged(0)"); }
  void DataSetChanged() override { log.push_back("DataSetChanged"); }
  void DataSetScrolled(int distance) override {
    log.push_back("DataSetScrolled(" + std::to_string(distance) + ")");
  }
  void RecordChanged(TField* field) override {
    log.push_back("RecordChanged(" + (field ? field->FieldName() : std::string("-")) + ")");
  }
  void LayoutChanged() override { log.push_back("LayoutChanged"); }
  void EditingChanged() override {
    log.push_back(Editing() ? "EditingChanged(1)" : "EditingChanged(0)");
  }
  void UpdateData() override {
    log.push_back("UpdateData");
    if (!editor_text.empty()) DataSet()->FieldByName("NAME").SetAsString(editor_text);
  }
};

struct LinkFixture {
  MemoryDataset ds{NumberedRows(3)};
  TDataSource source{&ds};
  RecordingLink link;
  LinkFixture() { link.SetDataSource(&source); }
};

TEST(DataLinks, CallbacksOfTheOperations) {
  LinkFixture f;
  EXPECT_TRUE(f.link.log.empty());  // the dataset is closed
  struct Case {
    const char* what;
    std::function<void(MemoryDataset&)> op;
    Log expected;
  } cases[] = {
      {"open", [](MemoryDataset& d) { d.Open(); }, {"ActiveChanged(1)"}},
      {"next", [](MemoryDataset& d) { d.Next(); }, {"DataSetScrolled(1)"}},
      {"moveby 5", [](MemoryDataset& d) { d.MoveBy(5); }, {"DataSetScrolled(1)"}},
      {"next at the end", [](MemoryDataset& d) { d.Next(); }, {}},
      {"prior", [](MemoryDataset& d) { d.Prior(); }, {"DataSetScrolled(-1)"}},
      {"first", [](MemoryDataset& d) { d.First(); }, {"DataSetChanged"}},
      {"last", [](MemoryDataset& d) { d.Last(); }, {"DataSetChanged"}},
      {"edit", [](MemoryDataset& d) { d.Edit(); }, {"EditingChanged(1)", "RecordChanged(-)"}},
      {"put", [](MemoryDataset& d) { d.FieldByName("QTY").SetAsInteger(1); },
       {"RecordChanged(QTY)"}},
      {"post", [](MemoryDataset& d) { d.Post(); },
       {"UpdateData", "EditingChanged(0)", "DataSetChanged"}},
      {"insert", [](MemoryDataset& d) { d.Insert(); }, {"EditingChanged(1)", "DataSetChanged"}},
      {"cancel", [](MemoryDataset& d) { d.Cancel(); }, {"EditingChanged(0)", "DataSetChanged"}},
      {"append", [](MemoryDataset& d) { d.Append(); }, {"EditingChanged(1)", "DataSetChanged"}},
      {"post new", [](MemoryDataset& d) { d.Post(); },
       {"UpdateData", "EditingChanged(0)", "DataSetChanged"}},
      {"delete", [](MemoryDataset& d) { d.Delete(); }, {"DataSetChanged"}},
      {"refresh", [](MemoryDataset& d) { d.Refresh(); }, {"DataSetChanged"}},
      {"locate", [](MemoryDataset& d) { d.Locate("NAME", "r1", 0); }, {"DataSetChanged"}},
      {"missed locate", [](MemoryDataset& d) { d.Locate("NAME", "zz", 0); }, {}},
      {"lookup", [](MemoryDataset& d) { d.Lookup("NAME", "r2", "QTY"); }, {}},
      {"record number", [](MemoryDataset& d) { d.SetRecNo(2); }, {"DataSetChanged"}},
      {"bookmark", [](MemoryDataset& d) { d.GotoBookmark(d.GetBookmark()); }, {"DataSetChanged"}},
      {"display width", [](MemoryDataset& d) { d.FieldByName("NAME").SetDisplayWidth(30); },
       {"LayoutChanged"}},
      {"visible", [](MemoryDataset& d) { d.FieldByName("QTY").SetVisible(false); },
       {"LayoutChanged"}},
      {"close", [](MemoryDataset& d) { d.Close(); }, {"ActiveChanged(0)"}},
  };
  for (const Case& c : cases) {
    c.op(f.ds);
    EXPECT_EQ(f.link.Take(), c.expected) << c.what;
  }
}

// A post asks the links for their pending texts first; the link writing them does not hear
// its own change back, another link does.
TEST(DataLinks, UpdateDataBeforeAPost) {
  LinkFixture f;
  RecordingLink other;
  other.SetDataSource(&f.source);
  f.ds.Open();
  f.ds.Edit();
  f.link.Take();
  other.Take();
  f.link.editor_text = "typed";
  f.ds.Post();
  EXPECT_EQ(f.link.Take(), (Log{"UpdateData", "EditingChanged(0)", "DataSetChanged"}));
  EXPECT_EQ(other.Take(),
            (Log{"RecordChanged(NAME)", "UpdateData", "EditingChanged(0)", "DataSetChanged"}));
  EXPECT_EQ(f.ds.rows[0].name, "typed");
}

TEST(DataLinks, DisableControlsHoldsTheCallbacksBack) {
  LinkFixture f;
  f.ds.Open();
  f.link.Take();

  f.ds.DisableControls();
  f.ds.Next();
  f.ds.Next();
  f.ds.Edit();
  f.ds.FieldByName("QTY").SetAsInteger(5);
  f.ds.Post();
  EXPECT_TRUE(f.link.log.empty());
  EXPECT_TRUE(f.ds.ControlsDisabled());
  f.ds.EnableControls();
  EXPECT_EQ(f.link.Take(), (Log{"DataSetChanged"}));  // state as before: no state change
  EXPECT_EQ(f.ds.rows[2].qty, 5);

  f.ds.DisableControls();
  f.ds.DisableControls();
  f.ds.Edit();
  f.ds.EnableControls();
  EXPECT_TRUE(f.link.log.empty());  // still held by the outer call
  f.ds.EnableControls();
  EXPECT_EQ(f.link.Take(), (Log{"EditingChanged(1)", "DataSetChanged"}));
  f.ds.Cancel();
  f.link.Take();

  f.ds.DisableControls();
  f.ds.FieldByName("NAME").SetDisplayLabel("Name");
  f.ds.First();
  f.ds.EnableControls();
  EXPECT_EQ(f.link.Take(), (Log{"LayoutChanged"}));

  f.ds.DisableControls();
  f.ds.Close();
  f.ds.EnableControls();
  EXPECT_EQ(f.link.Take(), (Log{"ActiveChanged(0)"}));
  f.ds.EnableControls();  // unmatched: nothing
  EXPECT_FALSE(f.ds.ControlsDisabled());
}

TEST(DataLinks, DisabledSourceReadOnlyLinkAndAutoEdit) {
  LinkFixture f;
  f.ds.Open();
  f.link.Take();
  f.source.SetEnabled(false);
  EXPECT_EQ(f.link.Take(), (Log{"ActiveChanged(0)"}));
  EXPECT_EQ(f.source.State(), dsInactive);
  f.ds.Next();
  EXPECT_TRUE(f.link.log.empty());
  f.source.SetEnabled(true);
  EXPECT_EQ(f.link.Take(), (Log{"ActiveChanged(1)"}));

  f.link.SetReadOnly(true);
  EXPECT_FALSE(f.link.Edit());
  EXPECT_EQ(f.ds.State(), dsBrowse);
  f.link.SetReadOnly(false);
  f.source.SetAutoEdit(false);
  EXPECT_FALSE(f.link.Edit());
  f.source.SetAutoEdit(true);
  EXPECT_TRUE(f.link.Edit());
  EXPECT_EQ(f.ds.State(), dsEdit);
  EXPECT_TRUE(f.link.Editing());
}

TEST(DataLinks, EachSideDetachesWhenDestroyed) {
  auto ds = std::make_unique<MemoryDataset>(NumberedRows(1));
  auto source = std::make_unique<TDataSource>(ds.get());
  RecordingLink link;
  link.SetDataSource(source.get());
  ds->Open();
  EXPECT_TRUE(link.Active());
  ds.reset();
  EXPECT_EQ(source->DataSet(), nullptr);
  EXPECT_FALSE(link.Active());
  EXPECT_EQ(link.Take(), (Log{"ActiveChanged(1)", "ActiveChanged(0)"}));

  MemoryDataset second(NumberedRows(1));
  second.Open();
  source->SetDataSet(&second);
  EXPECT_EQ(link.DataSet(), &second);
  EXPECT_EQ(link.Take(), (Log{"ActiveChanged(1)"}));
  source.reset();
  EXPECT_EQ(link.DataSource(), nullptr);
  EXPECT_EQ(link.Take(), (Log{"ActiveChanged(0)"}));
  second.Next();  // no source left to tell
  {
    TDataSource third(&second);
    RecordingLink short_lived;
    short_lived.SetDataSource(&third);
  }  // the link goes before its source
  second.Prior();
}

}  // namespace
}  // namespace tz::testing
