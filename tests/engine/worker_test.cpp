// A worker's life: its first turns, its identity, its pause and its end.

#include <thread>

#include <gtest/gtest.h>

#include "engine/DHilo.h"
#include "platform/thread.h"
#include "tests/engine/Banco.h"

namespace {

using prueba::Banco;
using prueba::Esperar;

TEST(Trabajador, ANewWorkerIdlesWithoutIdentityUntilTheWindowGivesIt) {
  TAjustes ajustes;
  auto* worker = new TDHilo(ajustes);
  EXPECT_EQ(worker->Identidad().Letra, u'\x85');
  EXPECT_EQ(worker->Identidad().SectorSize, 512u);
  EXPECT_EQ(worker->Identidad().MaxSectorSize, 512u);
  THRec rec;
  rec.Nombre = u"Datos";
  rec.Letra = u'K';
  rec.ID = 77;
  rec.SectorSize = 4096;
  rec.MaxSectorSize = 4096;
  worker->SetAppRec(rec);
  EXPECT_TRUE(Esperar([&] { return worker->Identidad().Letra == u'K'; }, 1000)) << "adopted within a turn";
  EXPECT_EQ(worker->DTalla(1), 4096);
  EXPECT_EQ(worker->GetCapacidad(), u"");
  worker->AddDFin(0);
  EXPECT_TRUE(Esperar([&] { return !worker->GetCapacidad().empty(); }, 1000)) << "a zero adjustment rebuilds it";
  EXPECT_EQ(worker->GetDFin(), 0);
  worker->Terminate();
  EXPECT_TRUE(win32::TThread::WaitForAll(5000));
}

TEST(Trabajador, APausedDestinationStopsBetweenOperationsAndHoldsNoListLock) {
  Banco banco({{u'E', 512}, {u'F', 512}});
  banco.AsignarOrigen(u'E');
  TDHilo* F = banco.Hilo(u'F');
  for (int i = 0; i < 20; ++i) {
    auto op = std::make_unique<TEspera>();
    op->BufBytes = 1;
    F->IOList.Add(std::move(op));
  }
  ASSERT_TRUE(Esperar([&] { return F->GetDPos() >= 2; }));
  F->Suspend();
  ASSERT_TRUE(Esperar([&] { return F->Parked(); }));
  const std::int64_t stopped = F->GetDPos();
  // The window works on the origin's list and the worker's queue while it is paused.
  TDHilo* E = banco.Hilo(u'E');
  E->LockFList();
  E->UnLockFList();
  E->EliminarFiles(F);
  EXPECT_GT(F->GetCache(), -1);
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  EXPECT_EQ(F->GetDPos(), stopped);
  F->Resume();
  EXPECT_TRUE(Esperar([&] { return F->GetDPos() == 20; }));
}

TEST(Trabajador, ATerminatedWorkerEndsPromptlyEvenInALongWait) {
  TAjustes ajustes;
  ajustes.TiempoError = 60000;
  auto* worker = new TDHilo(ajustes);
  worker->EsOrigen();
  // An origin with nothing to do waits on placeholders; its end must not wait a minute.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto start = std::chrono::steady_clock::now();
  worker->Terminate();
  EXPECT_TRUE(win32::TThread::WaitForAll(5000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

}  // namespace
