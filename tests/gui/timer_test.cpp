// SPDX-License-Identifier: MIT
// The QTimer-backed timer port on the real event loop. Waits are short and every check
// that depends on timing says what it measured.
#include <QElapsedTimer>
#include <QtTest>
#include <memory>

#include "gui/qt_timer.h"

using zelto::Timer;
using zelto::qt::QtTimerFactory;

class TimerTest : public QObject {
  Q_OBJECT

 private slots:
  void destroyedInsideItsOwnTick();
  void ticksOnlyWhileEnabledWithAnInterval();
  void newIntervalRestartsThePeriod();
};

void TimerTest::destroyedInsideItsOwnTick() {
  QtTimerFactory factory;
  std::unique_ptr<Timer> timer = factory.CreateTimer();
  int ticks = 0;
  timer->SetOnTick([&] {
    ++ticks;
    timer.reset();
  });
  timer->SetInterval(1);
  timer->SetEnabled(true);
  QTRY_COMPARE(ticks, 1);
  QVERIFY(timer == nullptr);
  QTest::qWait(20);
  QCOMPARE(ticks, 1);
}

void TimerTest::ticksOnlyWhileEnabledWithAnInterval() {
  QtTimerFactory factory;
  std::unique_ptr<Timer> timer = factory.CreateTimer();
  QCOMPARE(timer->Enabled(), false);
  QCOMPARE(timer->Interval(), 0);
  int ticks = 0;
  timer->SetOnTick([&] { ++ticks; });

  timer->SetEnabled(true);  // enabled, but interval 0 means never
  QVERIFY(timer->Enabled());
  QTest::qWait(30);
  QCOMPARE(ticks, 0);

  timer->SetInterval(2);
  QTRY_VERIFY(ticks >= 2);
  timer->SetEnabled(false);
  const int stopped_at = ticks;
  QTest::qWait(30);
  QCOMPARE(ticks, stopped_at);
  QCOMPARE(timer->Interval(), 2);
}

void TimerTest::newIntervalRestartsThePeriod() {
  QtTimerFactory factory;
  std::unique_ptr<Timer> timer = factory.CreateTimer();
  QElapsedTimer clock;
  qint64 first_tick_ms = -1;
  timer->SetOnTick([&] {
    if (first_tick_ms < 0) first_tick_ms = clock.elapsed();
  });
  clock.start();
  timer->SetInterval(200);
  timer->SetEnabled(true);
  QTest::qWait(120);
  const qint64 restarted_ms = clock.elapsed();
  if (first_tick_ms >= 0 || restarted_ms >= 190)
    QSKIP("the machine was too slow to set the interval before the first tick");
  timer->SetInterval(200);
  // Enabling again changes nothing: the period still runs from the new interval.
  timer->SetEnabled(true);
  QTRY_VERIFY_WITH_TIMEOUT(first_tick_ms >= 0, 2000);
  QVERIFY2(first_tick_ms >= restarted_ms + 195,
           qPrintable(QString("tick at %1 ms, interval set again at %2 ms")
                          .arg(first_tick_ms)
                          .arg(restarted_ms)));
}

QTEST_MAIN(TimerTest)
#include "timer_test.moc"
