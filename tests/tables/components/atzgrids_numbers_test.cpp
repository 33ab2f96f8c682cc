// The data grid's texts of whole numbers of ten digits and more, with the dataset's own fields
// and with persistent ones, on the offscreen screen.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "platform/qt/qt_text.h"
#include "tables/components/atzgrids.h"
#include "whole_numbers_support.h"

namespace tz {
namespace {

using GridNumbers = WholeNumbers;

TEST_F(GridNumbers, EveryRowShowsItsWholeNumbers) {
  WriteNumbers();
  for (NumberFields kind : {NumberFields::kDefault, NumberFields::kPersistent,
                            NumberFields::kPersistentSized20}) {
    auto dbf = OpenNumbers(kind);
    platform::dataset::TDataSource source;
    source.SetDataSet(dbf.get());
    TTzGrid grid;
    grid.SetDataSource(&source);
    grid.resize(640, 400);
    grid.show();
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
    ASSERT_EQ(grid.Model().rowCount(), static_cast<int>(kWholeNumbers.size())) << NameOf(kind);
    for (int row = 0; row < grid.Model().rowCount(); ++row) {
      const WholeNumber& v = kWholeNumbers[static_cast<size_t>(row)];
      for (int column = 0; column < static_cast<int>(kNumberColumns.size()); ++column) {
        const RawField& c = kNumberColumns[static_cast<size_t>(column)];
        if (v.text.size() > c.length) continue;
        QVariant text = grid.Model().index(row, column).data(Qt::DisplayRole);
        EXPECT_EQ(platform::FromQString(text.toString()), v.text)
            << NameOf(kind) << ", " << c.name << " holding " << v.text;
      }
    }
  }
}

}  // namespace
}  // namespace tz
