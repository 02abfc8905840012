// The database the program benchmarks run on: the template with `cards` cards
// in category 1 (one in three unsent, the others with a Chinese delivery
// note), an empty category 2 for added cards, and 30 settings, some of them
// Chinese as a seller's are. Written through SQLite directly, so the file
// keeps the template's journal mode and any build of the program can be
// measured on it. Raises std::runtime_error on failure.
#pragma once

#include <sqlite3.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace Quorvel::bench {

// Fills `dir` with vendara2012.db and tpl/vendara2012.db.
inline void prepareBenchDatabase(const std::filesystem::path& dir, int cards, const std::string& templateFile) {
  namespace fs = std::filesystem;
  fs::create_directories(dir / "tpl");
  fs::copy_file(templateFile, dir / "tpl" / "vendara2012.db", fs::copy_options::overwrite_existing);
  fs::copy_file(templateFile, dir / "vendara2012.db", fs::copy_options::overwrite_existing);
  std::string sql =
      "begin;"
      "insert into `category` (`id`,`name`,`tpl`,`ext`) values (1,'点卡','{}','{}'),(2,'新卡','{}','{}');"
      "with recursive n(i) as (select 1 union all select i+1 from n where i<" +
      std::to_string(cards) +
      ") insert into `items` (`cg_id`,`data1`,`data2`,`data3`,`send_order_id`) "
      "select 1, 'CARD'||printf('%010d',i), 'PWD'||printf('%08d',i*7919), '', "
      "case when i%3=0 then '' else '订单 '||i end from n;";
  const char* settings[][2] = {
      {"taobao_user", "卖家小店"}, {"taobao_pwd", "secret-password"}, {"taobao_autologin", "1"},
      {"check_order_timeout", "10"}, {"check_msg_timeout", "10"}, {"comment_enable", "1"},
      {"comment_timeout", "30"}, {"comment_msg", "感谢您的惠顾，欢迎再次光临本店！"},
      {"notice_service_stop", "1"}, {"notice_paid_order", "1"}, {"notice_success_order", "0"},
      {"notice_failed_order", "1"}, {"notice_store_enable", "1"}, {"notice_store_num", "20"},
      {"notice_type_fetion", "0"}, {"notice_type_email", "1"}, {"notice_mailto", "seller@example.com"},
      {"email_send_type", "3"}, {"email_sender", "小店 <shop@example.com>"}, {"email_dns_server", "8.8.8.8"},
      {"smtp_host", "smtp.example.com"}, {"smtp_port", "25"}, {"smtp_user", "shop@example.com"},
      {"smtp_pwd", "smtp-password"}, {"wangwang_initiative_enable", "1"}, {"wangwang_retry_timeout", "3"},
      {"black_list", "坏买家一\n坏买家二\nbadbuyer3"}, {"maker_base", "http://127.0.0.1:18080"},
      {"local_host", "127.0.0.1"}, {"market_base", ""},
  };
  for (const auto& [key, value] : settings) {
    sql += std::string("insert into `sys_config` (`key`,`value`) values ('") + key + "','" + value + "');";
  }
  sql += "commit;";
  sqlite3* db = nullptr;
  std::string failure;
  if (sqlite3_open((dir / "vendara2012.db").c_str(), &db) != SQLITE_OK) {
    failure = sqlite3_errmsg(db);
  } else {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) failure = error ? error : "?";
    sqlite3_free(error);
  }
  sqlite3_close(db);
  if (!failure.empty()) throw std::runtime_error("cannot fill the benchmark database: " + failure);
}

}  // namespace Quorvel::bench
