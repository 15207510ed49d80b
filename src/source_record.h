#pragma once

namespace tsconv {

// The current record of a run: each decoded source line overwrites the fields
// it supplies and leaves the others as they were. It starts zeroed, so a value
// that no line has supplied yet prints as 0.000000.
struct SourceRecord {
    double serial_date = 0.0;  // spreadsheet serial date on the source clock
    double PV = 0.0;
    double wSP = 0.0;
    double wOP = 0.0;
};

}  // namespace tsconv
