#pragma once

#include <QTest>
#include <tuple>

// A data-driven test's table, its columns typed once: the _data function adds the rows, the test reads its
// row whole. `using Cases = Rows<int, QString>;` then `Cases rows; rows.Add("tag", 1, "x");` and
// `const auto& [number, text] = Cases::Fetch();`. A lambda takes the bindings it needs as init-captures
// (`[n = number]`): clang before 16 cannot capture a binding.
template <typename... T>
class Rows {
public:
    using Row = std::tuple<T...>;
    Rows() { QTest::addColumn<Row>("row"); }
    void Add(const char* tag, T... values) { QTest::newRow(tag) << Row(std::move(values)...); }
    static const Row& Fetch() { return *static_cast<const Row*>(QTest::qData("row", qMetaTypeId<Row>())); }
};
