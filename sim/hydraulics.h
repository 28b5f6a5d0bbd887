// The liquid path of the simulated instruments: the column that sets the
// back-pressure, the dwell volume between the pumps' mixing point and the
// column, how fast the pumps change their flow and how fast pressure
// follows, and the oven's heating and cooling. docs/simulator.md gives the
// relations and where their figures come from.
//
// Stateless functions; DwellLine and the model that owns it are not
// thread-safe (the owner serialises every call).
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace sim {

// The shares of channels A to D, percent. The direct network has no D:
// there it is 0.
struct Composition {
  double a = 100.0, b = 0.0, c = 0.0, d = 0.0;
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
  // The bed resists with the mean viscosity of what it holds; false: with
  // that of what reaches its head.
  bool meanOverBed = true;

  // Flow, composition and pressure follow the settings at once: for tests
  // of everything but the liquid path.
  static Hydraulics Instant() { return {std::nullopt, 0.0, 0.0, 0.0, false}; }
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

// The share of a column's bore that holds liquid: the total porosity of a
// bed of fully porous particles (between them and in their pores).
inline constexpr double kTotalPorosity = 0.65;
// The liquid a column holds, ml: its bore's volume x the total porosity.
// Without a column, the fixed column's (a 4.6 x 250 mm bore). Inline: the
// host program works it out without linking the simulators.
inline double LiquidVolumeMl(const std::optional<Column>& column) {
  const Column bore = column.value_or(Column{.lengthMm = 250.0});
  return 3.14159265358979 / 4.0 * bore.diameterMm * bore.diameterMm * bore.lengthMm * kTotalPorosity / 1000.0;
}

// The oven's temperature `elapsedMs` after it began to move from `fromC`
// to `targetC`: a steady ramp at the heater's (or the cooling's) rate,
// then an exponential approach that takes over with the same slope.
double OvenCurveC(double fromC, double targetC, double elapsedMs);
// When, from the start of that move, the temperature first comes within
// `bandC` of the target (0 if it already is).
double OvenReachMs(double fromC, double targetC, double bandC);

// A queue of the points of a line the liquid moves along: added at the
// back, dropped from the front, read anywhere by their place from the
// front. Its storage grows to the most it has held and is then reused, so
// reading a place is one step, whatever the queue's length.
template <class T>
class Ring {
 public:
  bool empty() const { return m_size == 0; }
  std::size_t size() const { return m_size; }
  const T& operator[](std::size_t i) const { return m_items[(m_head + i) & (m_items.size() - 1)]; }
  T& operator[](std::size_t i) { return m_items[(m_head + i) & (m_items.size() - 1)]; }
  const T& front() const { return (*this)[0]; }
  const T& back() const { return (*this)[m_size - 1]; }
  void push_back(const T& item) {
    if (m_size == m_items.size()) {
      std::vector<T> items(std::max<std::size_t>(16, 2 * m_items.size()));  // a power of 2
      for (std::size_t k = 0; k < m_size; ++k) items[k] = (*this)[k];
      m_items.swap(items);
      m_head = 0;
    }
    ++m_size;
    (*this)[m_size - 1] = item;
  }
  void pop_front() {
    m_head = (m_head + 1) & (m_items.size() - 1);
    --m_size;
  }

 private:
  std::vector<T> m_items;
  std::size_t m_head = 0, m_size = 0;
};

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
  Ring<Point> m_points;
  double m_sameSinceMl = 0.0;  // every point from this volume on has the newest point's composition
};

// The liquid the column holds: what entered its head over the last column
// volume delivered, each part with its viscosity. The column's resistance
// acts on the mean viscosity of it, so a mobile phase passing through
// reads as the average over the bed, not as what is at the head. The
// parts are kept with the running integral of their viscosity over the
// volume, so the mean costs the same however many there are; parts that
// have left the column are dropped.
class ColumnContents {
 public:
  explicit ColumnContents(double holdsMl = 0.0) : m_holdsMl(holdsMl) {}

  // Liquid of `composition` and viscosity `cp` enters the head when the
  // pumps have delivered `volumeMl` in all (not less than before).
  void Enter(double volumeMl, const Composition& composition, double cp);
  // Whether everything the column holds when `volumeMl` has been
  // delivered, `now` entering, came in as `now`: its mean viscosity is
  // then that of `now`. So is that of a column nothing has entered yet.
  bool HoldsOnly(double volumeMl, const Composition& now) const;
  // The mean viscosity of what the column holds when `volumeMl` has been
  // delivered and liquid of viscosity `cpNow` enters. Liquid that was in
  // the column before anything entered counts as the first that did.
  double MeanCp(double volumeMl, double cpNow) const;
  // Bounds of the viscosity of every part the column holds, and of some
  // that have left it since the last Revalue (infinite while it holds
  // none): MeanCp lies between them and `cpNow`.
  double LowestCp() const { return m_lowestCp; }
  double HighestCp() const { return m_highestCp; }

  // Every part's viscosity anew from `viscosity(composition)`, as when the
  // column's temperature or the bottles changed.
  template <class F>
  void Revalue(F&& viscosity) {
    double integral = 0.0;
    m_lowestCp = std::numeric_limits<double>::infinity();
    m_highestCp = -m_lowestCp;
    for (std::size_t i = 0; i < m_parts.size(); ++i) {
      Part& part = m_parts[i];
      part.cp = viscosity(part.composition);
      m_lowestCp = std::min(m_lowestCp, part.cp);
      m_highestCp = std::max(m_highestCp, part.cp);
      if (i > 0) integral += (m_parts[i - 1].cp + part.cp) / 2.0 * (part.volumeMl - m_parts[i - 1].volumeMl);
      part.integral = integral;
    }
  }

 private:
  struct Part {
    double volumeMl;
    Composition composition;
    double cp;
    double integral;  // of the viscosity over the volume, from the first part
  };
  // The integral of the viscosity from the first part to `volumeMl`,
  // `cpNow` entering at `nowMl`.
  double IntegralTo(double volumeMl, double nowMl, double cpNow) const;

  double m_holdsMl;
  Ring<Part> m_parts;
  double m_sameSinceMl = 0.0;  // every part from this volume on has the newest part's composition
  double m_lowestCp = std::numeric_limits<double>::infinity();
  double m_highestCp = -std::numeric_limits<double>::infinity();
};

}  // namespace sim
