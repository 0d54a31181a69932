// server_env.h - the server the tests' folders are kept on when they run
// against the server store (RECMAN_TEST_STORE=server): the one named by
// RECMAN_TEST_SERVER (a libpq connection string), or else a throwaway
// cluster started before a test program's tests and stopped after them
// (tests/recman/pg_cluster.sh, as an unprivileged user when run as root).
// Every folder a test then makes is kept on that server, each in a schema of
// its own (RecmanSetServerForTests), so the same tests run on either store.
//
// A test program includes it once, in one of its files:
//   [[maybe_unused]] testing::Environment* const kServerStore =
//       testing::AddGlobalTestEnvironment(new servertest::Environment);
#pragma once
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "recman/testing.h"
#include "tests/recman/recman_test_util.h"

namespace servertest {

using rt::OnServer;

inline std::string gClusterFolder;
inline pid_t gClusterOwner = 0;
inline std::string gConnection;

// Starts the throwaway cluster; its connection string, or empty.
inline std::string StartCluster() {
  char pattern[] = "/tmp/recman-pg-XXXXXX";
  if (!mkdtemp(pattern)) return "";
  rmdir(pattern);  // the script makes it, for the server's user
  std::string command =
      std::string("bash ") + TARPELIX_SOURCE_DIR "/tests/recman/pg_cluster.sh start " + pattern;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return "";
  char line[1024] = {};
  std::string connection;
  if (fgets(line, sizeof line, p)) connection = line;
  if (pclose(p) != 0) return "";
  while (!connection.empty() && (connection.back() == '\n' || connection.back() == '\r'))
    connection.pop_back();
  gClusterFolder = pattern;
  gClusterOwner = getpid();
  return connection;
}

inline void StopCluster() {
  if (gClusterFolder.empty() || getpid() != gClusterOwner) return;
  std::string command =
      std::string("bash ") + TARPELIX_SOURCE_DIR "/tests/recman/pg_cluster.sh stop " + gClusterFolder;
  if (system(command.c_str()) != 0)
    fprintf(stderr, "could not stop the cluster in %s\n", gClusterFolder.c_str());
  gClusterFolder.clear();
}

// The connection string of the server a folder is kept on (the first line
// of its recman.server that is neither a comment nor the schema), or empty.
inline std::string FolderConnection(const std::string& folder) {
  std::ifstream in(folder + "/recman.server");
  std::string line;
  while (std::getline(in, line))
    if (!line.empty() && line[0] != '#' && line.rfind("schema ", 0) != 0) return line;
  return "";
}

// Ends every backend of the server's database but the caller's own that
// WHERE (an SQL condition over pg_stat_activity) selects, as an
// administrator or a restart would; how many, or -1 with `error` set.
inline int TerminateBackends(const std::string& connection, const std::string& where, std::string& error) {
  PGconn* admin = PQconnectdb(connection.c_str());
  if (PQstatus(admin) != CONNECTION_OK) {
    error = PQerrorMessage(admin);
    PQfinish(admin);
    return -1;
  }
  std::string sql =
      "SELECT count(pg_terminate_backend(pid)) FROM pg_stat_activity WHERE datname = current_database() "
      "AND pid <> pg_backend_pid() AND (" +
      where + ")";
  PGresult* r = PQexec(admin, sql.c_str());
  int ended = -1;
  if (PQresultStatus(r) == PGRES_TUPLES_OK) ended = atoi(PQgetvalue(r, 0, 0));
  else error = PQerrorMessage(admin);
  PQclear(r);
  PQfinish(admin);
  return ended;
}

struct Environment : testing::Environment {
  void SetUp() override {
    if (!OnServer()) return;
    const char* named = getenv("RECMAN_TEST_SERVER");
    gConnection = named && *named ? named : StartCluster();
    if (gConnection.empty()) {
      fprintf(stderr,
              "no server for the server store's tests (RECMAN_TEST_SERVER, or PostgreSQL 15 installed)\n");
      exit(1);
    }
    RecmanSetServerForTests(gConnection);
  }
  void TearDown() override { StopCluster(); }
};

}  // namespace servertest
