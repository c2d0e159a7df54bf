#include "verification/run/errortable.h"

#include "verification/avtopoverkagrid.h"

TErrorTable ErrorTableOf(const TKestAvtopoverkaGrid &grid, bool analogTab, bool voltageInput, double permissibleError)
{
    TErrorTable t;
    t.title = grid.Title;
    t.inputCaption = voltageInput ? QStringLiteral("Напр., V") : QStringLiteral("Ток, A");
    t.permissibleError = permissibleError;
    const int rows = grid.RowCount() - 1; // row 0 is the header
    for (int row = 1; row <= rows; ++row) {
        std::optional<double> x;
        if (grid.RowInputProblem(row).isEmpty()) {
            const TInputData in = grid.GetRowInputData(row);
            x = voltageInput ? in.Ua.value : in.Ia.value;
        }
        t.inputs.push_back(x);
    }
    for (int col = grid.InputColumnCount(); col < grid.ColCount(); ++col) {
        const int param = grid.ParamOfColumn(col);
        const TParameter *named = grid.OutputParamNames().GetParameterByIndex(param);
        if (!named)
            continue;
        TErrorColumn c;
        c.name = named->name;
        for (int row = 1; row <= rows; ++row) {
            std::optional<double> error;
            bool over = false;
            const TSuperAvtopoverkaGrid::TRowResults *r = grid.RowResults(row);
            if (r && !r->noValue.test(static_cast<size_t>(param))) {
                const TSuperParameterForGrid *p = nullptr;
                if (analogTab) {
                    const auto it = r->analog.find(param);
                    p = it != r->analog.end() ? &it->second : nullptr;
                } else if (r->rs) {
                    p = r->rs->GetParameterByIndex(param);
                }
                if (p) {
                    error = p->Error;
                    over = p->isBiggerThanThreshold; // judged against the limit in force for it
                }
            }
            c.errors.push_back(error);
            c.over.push_back(over);
        }
        t.columns.push_back(std::move(c));
    }
    return t;
}
