#pragma once
// What the error chart shows of one verification table: per output column the errors the table holds
// (RS or analog), against each row's test point — the current, or the voltage for a voltage transducer.

#include "charts/errorchart.h"

class TKestAvtopoverkaGrid;

// `analogTab`: the errors of the analog cells rather than those read over RS. `voltageInput`: the
// points are voltages. Rows without a readable point, and cells without an error (not measured, or
// "/---/---"), give no point.
TErrorTable ErrorTableOf(const TKestAvtopoverkaGrid &grid, bool analogTab, bool voltageInput, double permissibleError);
