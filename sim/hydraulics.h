// The liquid path of the simulated instruments: the column that sets the
// back-pressure, the dwell volume between the pumps' mixing point and the
// column, how fast the pumps change their flow and how fast pressure
// follows, and the oven's heating and cooling. docs/simulator.md gives the
// relations and where their figures come from.
//
// Stateless functions; DwellLine and the model that owns it are not
// thread-safe (the owner serialises every call).
#pragma once

#include <cstdint>
#include <deque>
#include <optional>

namespace sim {

struct Composition {
  double a = 100.0, b = 0.0, c = 0.0;  // percent
  bool operator==(const Composition&) const = default;
};

// What the rest of an HPLC system resists, bar at 1 ml/min of a 1 cP
// solvent: about a metre of 0.17 mm capillary (8 bar by Poiseuille's law)
// with the mixer, the injection valve, an inline filter and the detector's
// cell.
inline constexpr double kDefaultSystemBar = 10.0;

// A packed column.
struct Column {
  double lengthMm = 150.0;
  double diameterMm = 4.6;     // inner diameter
  double particleUm = 5.0;
  double porosity = 0.40;      // of the bed between the particles
  double systemBar = kDefaultSystemBar;  // tubing, valves and cells: bar at 1 ml/min of a 1 cP solvent
};

// What the liquid path is made of. Without a column, the simulator's
// fixed column of 110 bar per ml/min per cP.
struct Hydraulics {
  std::optional<Column> column;
  double dwellMl = 0.6;          // from the mixing point to the column's head; 0: none
  double flowRampMlMin2 = 10.0;  // how fast the pumps change their flow, ml/min per minute; 0: at once
  double pressureTimeS = 2.0;    // time constant of the pressure following the flow; 0: at once

  // Flow, composition and pressure follow the settings at once: for tests
  // of everything but the liquid path.
  static Hydraulics Instant() { return {std::nullopt, 0.0, 0.0, 0.0}; }
};

// The simulator's fixed column and its system together.
inline constexpr double kFixedColumnBarPerMlMinCp = 110.0;

// What the liquid path resists, bar per ml/min per cP: the packed bed
// (the Kozeny-Carman relation) and the system in front of and behind it.
struct Resistance {
  double columnBar = 0.0;
  double systemBar = 0.0;
  double Total() const { return columnBar + systemBar; }
};
Resistance ResistanceOf(const std::optional<Column>& column);
// ResistanceOf(column).Total().
double ResistanceBar(const std::optional<Column>& column);

// The oven's temperature `elapsedMs` after it began to move from `fromC`
// to `targetC`: a steady ramp at the heater's (or the cooling's) rate,
// then an exponential approach that takes over with the same slope.
double OvenCurveC(double fromC, double targetC, double elapsedMs);
// When, from the start of that move, the temperature first comes within
// `bandC` of the target (0 if it already is).
double OvenReachMs(double fromC, double targetC, double bandC);

// The mobile phase between the mixing point and the column. The pumps'
// composition reaches the column a dwell volume later, smeared over
// about a dwell volume: what the column sees is the average of what was
// delivered from 1.5 to 0.5 dwell volumes ago.
class DwellLine {
 public:
  explicit DwellLine(double dwellMl = 0.0) : m_dwellMl(dwellMl) {}

  // The pumps have delivered `volumeMl` in all, now at composition `now`.
  void Deliver(double volumeMl, const Composition& now);
  // The composition at the column's head when the pumps have delivered
  // `volumeMl` and deliver `now`.
  Composition AtColumn(double volumeMl, const Composition& now) const;

 private:
  struct Point {
    double volumeMl;
    Composition composition;
    Composition integral;  // of the composition over the volume, from the first point
  };
  Composition IntegralTo(double volumeMl, const Point& last) const;
  Point Next(double volumeMl, const Composition& now) const;

  double m_dwellMl;
  std::deque<Point> m_points;
  double m_sameSinceMl = 0.0;  // every point from this volume on has the newest point's composition
};

}  // namespace sim
