// The launcher file under the C locale, where every non-ASCII byte is
// undecodable: a rewrite must still give back the user's bytes unchanged.
#include <cstdlib>

#include <gtest/gtest.h>

#include "config/catalog_registration.h"
#include "config/config_reader.h"
#include "config/config_writer.h"
#include "tests/config/config_test_util.h"

namespace {

using cfgtest::read_file;
using cfgtest::W;

class CLocaleConfigTest : public cfgtest::PrivateHomeTest {};

TEST_F(CLocaleConfigTest, Utf8FileRoundTripsByteForByteInTheCLocale) {
  const std::string path = root + "/in.cfg";
  const std::string bytes =
      "\xEF\xBB\xBF" "ConfigurationTemplatesLocation=/home/\xD0\xB8\xD0\xB2\xD0\xB0\xD0\xBD/t\n"
      "\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87=\xE2\x82\xAC\r\n";
  cfgtest::writeBytes(path, bytes);
  ConfigFile c;
  read_config_file(W(path), c);
  // The environment really selected a single-byte locale.
  EXPECT_EQ(1u, MB_CUR_MAX);
  ASSERT_EQ(2u, c.entries().size());  // the key behind the BOM and the Cyrillic key
  write_config_file(W(root + "/out.cfg"), c);
  EXPECT_EQ(bytes, read_file(root + "/out.cfg"));
}

TEST_F(CLocaleConfigTest, RegistrationInTheCLocaleKeepsNonAsciiCatalogs) {
  const std::string key = "ConfigurationTemplatesLocation=";
  putFile(localDir(), localFile(),
          key + "/srv/\xD0\xB0\n" + key + "/srv/\xD0\xB1\n" + "Name=\xC3\xA9t\xC3\xA9\n");
  CatalogRegistration reg = read_catalog_registration();
  // Two different Cyrillic catalogs are not merged into one.
  ASSERT_EQ(2u, reg.tmpltsList.size());
  EXPECT_EQ(0, register_catalog(reg, u"/srv/new/"));
  EXPECT_EQ(key + "/srv/new\n" + key + "/srv/\xD0\xB0\n" + key + "/srv/\xD0\xB1\n" +
                "Name=\xC3\xA9t\xC3\xA9\n",
            read_file(localFile()));
}

}  // namespace
