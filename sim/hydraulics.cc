#include "sim/hydraulics.h"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {

// A column oven heats at a few degrees a minute and cools, with its fan
// only, at about half that; near the set point its controller slows the
// approach (the time constants). 25 to 40 C takes about 6 min to come
// within 2 C, 8.5 min to within 0.5 C.
constexpr double kHeatCPerMs = 2.5 / 60000.0;
constexpr double kCoolCPerMs = 1.5 / 60000.0;
constexpr double kHeatTimeMs = 120000.0;
constexpr double kCoolTimeMs = 240000.0;

// Points closer than this are not kept: the line's memory stays flat
// however slow the flow and however long the run.
constexpr double kMinPointMl = 0.0005;

Composition Plus(const Composition& x, const Composition& y, double k) {
  return {x.a + k * y.a, x.b + k * y.b, x.c + k * y.c, x.d + k * y.d};
}

Composition Mid(const Composition& x, const Composition& y, double f) {
  return {x.a + (y.a - x.a) * f, x.b + (y.b - x.b) * f, x.c + (y.c - x.c) * f, x.d + (y.d - x.d) * f};
}

}  // namespace

Resistance ResistanceOf(const std::optional<Column>& column) {
  if (!column) return {kFixedColumnBarPerMlMinCp - kDefaultSystemBar, kDefaultSystemBar};
  // Darcy's law with the Kozeny-Carman permeability d^2 e^3 / (180 (1-e)^2),
  // in SI units: 1 ml/min = 1/60e6 m3/s, 1 cP = 1e-3 Pa s, 1 bar = 1e5 Pa.
  const double e = std::clamp(column->porosity, 0.05, 0.95);
  const double d = column->particleUm * 1e-6;
  const double area = 3.14159265358979 / 4.0 * std::pow(column->diameterMm * 1e-3, 2);
  const double permeability = d * d * e * e * e / (180.0 * (1.0 - e) * (1.0 - e));
  const double pascal = 1e-3 * (column->lengthMm * 1e-3) * (1.0 / 60e6) / (area * permeability);
  return {pascal / 1e5, column->systemBar};
}

double ResistanceBar(const std::optional<Column>& column) { return ResistanceOf(column).Total(); }

double OvenCurveC(double fromC, double targetC, double elapsedMs) {
  const bool heat = targetC >= fromC;
  const double rate = heat ? kHeatCPerMs : kCoolCPerMs;
  const double tau = heat ? kHeatTimeMs : kCoolTimeMs;
  const double sign = heat ? 1.0 : -1.0;
  const double distance = std::fabs(targetC - fromC);
  const double join = rate * tau;  // where the ramp hands over to the approach
  const double rampMs = distance > join ? (distance - join) / rate : 0.0;
  const double t = std::max(0.0, elapsedMs);
  if (t < rampMs) return fromC + sign * rate * t;
  return targetC - sign * std::min(distance, join) * std::exp(-(t - rampMs) / tau);
}

double OvenReachMs(double fromC, double targetC, double bandC) {
  const bool heat = targetC >= fromC;
  const double rate = heat ? kHeatCPerMs : kCoolCPerMs;
  const double tau = heat ? kHeatTimeMs : kCoolTimeMs;
  const double distance = std::fabs(targetC - fromC);
  if (distance <= bandC) return 0.0;
  const double join = rate * tau;
  if (distance > join && join <= bandC) return (distance - bandC) / rate;
  const double rampMs = distance > join ? (distance - join) / rate : 0.0;
  return rampMs + tau * std::log(std::min(distance, join) / bandC);
}

DwellLine::Point DwellLine::Next(double volumeMl, const Composition& now) const {
  if (m_points.empty()) return {volumeMl, now, {0.0, 0.0, 0.0, 0.0}};
  const Point& last = m_points.back();
  const double dv = std::max(0.0, volumeMl - last.volumeMl);
  return {std::max(volumeMl, last.volumeMl), now, Plus(last.integral, Mid(last.composition, now, 0.5), dv)};
}

void DwellLine::Deliver(double volumeMl, const Composition& now) {
  if (!m_points.empty() && volumeMl - m_points.back().volumeMl < kMinPointMl) return;
  if (m_points.empty() || !(m_points.back().composition == now)) m_sameSinceMl = volumeMl;
  m_points.push_back(Next(volumeMl, now));
  // Keep one point at or before the oldest volume a window can reach.
  while (m_points.size() > 2 && m_points[1].volumeMl <= volumeMl - 1.5 * m_dwellMl) m_points.pop_front();
}

Composition DwellLine::IntegralTo(double volumeMl, const Point& last) const {
  const Point& first = m_points.front();
  if (volumeMl <= first.volumeMl) return Plus(first.integral, first.composition, volumeMl - first.volumeMl);
  if (volumeMl >= last.volumeMl) return Plus(last.integral, last.composition, volumeMl - last.volumeMl);
  // The segment holding the volume; the newest one runs to `last`. Points
  // are about evenly spread in volume, so a guess from the volume lands on
  // or next to it.
  const std::size_t n = m_points.size();
  const double spread = m_points.back().volumeMl - first.volumeMl;
  std::size_t i = spread > 0.0 ? static_cast<std::size_t>((volumeMl - first.volumeMl) / spread * double(n - 1)) : 0;
  i = std::min(i, n - 1);
  while (i > 0 && m_points[i].volumeMl > volumeMl) --i;
  while (i + 1 < n && m_points[i + 1].volumeMl <= volumeMl) ++i;
  const Point& from = m_points[i];
  const Point& to = i + 1 < n ? m_points[i + 1] : last;
  const double span = to.volumeMl - from.volumeMl;
  const double f = span > 0.0 ? (volumeMl - from.volumeMl) / span : 0.0;
  const Composition at = Mid(from.composition, to.composition, f);
  return Plus(from.integral, Mid(from.composition, at, 0.5), volumeMl - from.volumeMl);
}

Composition DwellLine::AtColumn(double volumeMl, const Composition& now) const {
  if (m_dwellMl <= 0.0 || m_points.empty()) return now;
  // Held long enough that the whole window has it (an isocratic stretch).
  if (now == m_points.back().composition && m_sameSinceMl <= volumeMl - 1.5 * m_dwellMl) return now;
  const Point last = Next(volumeMl, now);
  const Composition from = IntegralTo(volumeMl - 1.5 * m_dwellMl, last);
  const Composition to = IntegralTo(volumeMl - 0.5 * m_dwellMl, last);
  return Plus(Composition{0.0, 0.0, 0.0, 0.0}, Plus(to, from, -1.0), 1.0 / m_dwellMl);
}

void ColumnContents::Enter(double volumeMl, const Composition& composition, double cp) {
  // Parts at most a five-hundredth of the column apart: the mean stays
  // exact to well under a percent, and a large column keeps no more parts.
  const double spacing = std::max(kMinPointMl, m_holdsMl / 500.0);
  if (!m_parts.empty() && volumeMl - m_parts.back().volumeMl < spacing) return;
  if (m_parts.empty() || !(m_parts.back().composition == composition)) m_sameSinceMl = volumeMl;
  double integral = 0.0;
  if (!m_parts.empty()) {
    const Part& last = m_parts.back();
    integral = last.integral + (last.cp + cp) / 2.0 * (volumeMl - last.volumeMl);
  }
  m_parts.push_back({volumeMl, composition, cp, integral});
  m_lowestCp = std::min(m_lowestCp, cp);
  m_highestCp = std::max(m_highestCp, cp);
  // Keep one part at or before the oldest volume the column holds.
  while (m_parts.size() > 2 && m_parts[1].volumeMl <= volumeMl - m_holdsMl) m_parts.pop_front();
}

bool ColumnContents::HoldsOnly(double volumeMl, const Composition& now) const {
  if (m_parts.empty()) return true;
  return now == m_parts.back().composition && (m_sameSinceMl <= volumeMl - m_holdsMl || m_sameSinceMl <= m_parts.front().volumeMl);
}

double ColumnContents::IntegralTo(double volumeMl, double nowMl, double cpNow) const {
  const Part& first = m_parts.front();
  if (volumeMl <= first.volumeMl) return first.integral - first.cp * (first.volumeMl - volumeMl);
  const Part& last = m_parts.back();
  if (volumeMl >= last.volumeMl) {
    // Within the stretch from the newest part to what enters now.
    const double span = nowMl - last.volumeMl;
    const double f = span > 0.0 ? std::min(1.0, (volumeMl - last.volumeMl) / span) : 0.0;
    const double cp = last.cp + (cpNow - last.cp) * f;
    return last.integral + (last.cp + cp) / 2.0 * (volumeMl - last.volumeMl);
  }
  // The part the volume falls after; parts are about evenly spread in
  // volume, so a guess from the volume lands on or next to it.
  const std::size_t n = m_parts.size();
  std::size_t i = static_cast<std::size_t>((volumeMl - first.volumeMl) / (last.volumeMl - first.volumeMl) * double(n - 1));
  i = std::min(i, n - 2);
  while (i > 0 && m_parts[i].volumeMl > volumeMl) --i;
  while (i + 2 < n && m_parts[i + 1].volumeMl <= volumeMl) ++i;
  const Part& from = m_parts[i];
  const Part& to = m_parts[i + 1];
  const double f = (volumeMl - from.volumeMl) / (to.volumeMl - from.volumeMl);
  const double cp = from.cp + (to.cp - from.cp) * f;
  return from.integral + (from.cp + cp) / 2.0 * (volumeMl - from.volumeMl);
}

double ColumnContents::MeanCp(double volumeMl, double cpNow) const {
  if (m_parts.empty() || !(m_holdsMl > 0.0)) return cpNow;
  const double to = IntegralTo(volumeMl, volumeMl, cpNow);
  const double from = IntegralTo(volumeMl - m_holdsMl, volumeMl, cpNow);
  return (to - from) / m_holdsMl;
}

}  // namespace sim
