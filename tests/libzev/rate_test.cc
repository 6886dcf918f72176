// Station rates and the driver's rate word.
#include <zev/wifi.h>

#include <gtest/gtest.h>

#include "wifi_internal.h"

namespace {

zev_wifi_sta sta(uint8_t mode, uint8_t mcs, uint8_t bw, uint8_t sgi, uint8_t nss)
{
	zev_wifi_sta s = {};
	s.phy_mode = mode;
	s.mcs = mcs;
	s.bw = bw;
	s.sgi = sgi;
	s.nss = nss;
	return s;
}

float vht(uint8_t mcs, uint8_t bw, uint8_t sgi)
{
	zev_wifi_sta s = sta(ZEV_PHY_VHT, mcs, bw, sgi, 1);
	return zev_wifi_sta_rate(&s);
}

float he(uint8_t mcs, uint8_t bw)
{
	zev_wifi_sta s = sta(ZEV_PHY_HE, mcs, bw, 0, 1);
	return zev_wifi_sta_rate(&s);
}

TEST(Rate, VhtRowsAsPublished)
{
	const uint8_t widths[4] = {20, 40, 80, 160};
	const float row0[8] = {6.5f, 7.2f, 13.5f, 15.0f, 29.3f, 32.5f, 58.5f, 65.0f};
	const float row7[8] = {65.0f, 72.2f, 135.0f, 150.0f, 292.5f, 325.0f, 585.0f, 650.0f};
	const float row9[8] = {86.7f, 96.2f, 180.0f, 200.0f, 390.0f, 433.3f, 780.0f, 866.7f};
	const float row11[8] = {108.3f, 120.3f, 225.0f, 250.0f, 487.5f, 541.7f, 975.0f, 1083.3f};
	for (int c = 0; c < 8; c++) {
		uint8_t bw = widths[c / 2], sgi = static_cast<uint8_t>(c % 2);
		EXPECT_FLOAT_EQ(vht(0, bw, sgi), row0[c]) << c;
		EXPECT_FLOAT_EQ(vht(7, bw, sgi), row7[c]) << c;
		EXPECT_FLOAT_EQ(vht(9, bw, sgi), row9[c]) << c;
		EXPECT_FLOAT_EQ(vht(11, bw, sgi), row11[c]) << c;
	}
	// Every row grows with the MCS at every width.
	for (uint8_t m = 1; m < 12; m++)
		for (uint8_t bw : widths)
			EXPECT_GT(vht(m, bw, 0), vht(static_cast<uint8_t>(m - 1), bw, 0));
}

TEST(Rate, HeRowsAsPublished)
{
	// Stations always carry guard-interval index 0; the other columns are
	// reached through the sgi field (1: 1.6 µs, 2: 3.2 µs).
	const uint8_t widths[4] = {20, 40, 80, 160};
	const float row0[12] = {8.6f, 8.1f, 7.3f, 17.2f, 16.3f, 14.6f, 36.0f, 34.0f, 30.6f, 72.1f, 68.1f, 61.3f};
	const float row7[12] = {86.0f, 81.3f, 73.1f, 172.1f, 162.5f, 146.3f, 360.3f, 340.3f, 306.3f, 720.6f, 680.6f, 612.5f};
	const float row11[12] = {143.4f, 135.4f, 121.9f, 286.8f, 270.8f, 243.8f, 600.5f, 567.1f, 510.4f,
				 1201.0f, 1134.3f, 1020.8f};
	for (int c = 0; c < 12; c++) {
		zev_wifi_sta s0 = sta(ZEV_PHY_HE, 0, widths[c / 3], static_cast<uint8_t>(c % 3), 1);
		zev_wifi_sta s7 = sta(ZEV_PHY_HE, 7, widths[c / 3], static_cast<uint8_t>(c % 3), 1);
		zev_wifi_sta s11 = sta(ZEV_PHY_HE, 11, widths[c / 3], static_cast<uint8_t>(c % 3), 1);
		EXPECT_FLOAT_EQ(zev_wifi_sta_rate(&s0), row0[c]) << c;
		EXPECT_FLOAT_EQ(zev_wifi_sta_rate(&s7), row7[c]) << c;
		EXPECT_FLOAT_EQ(zev_wifi_sta_rate(&s11), row11[c]) << c;
	}
	EXPECT_FLOAT_EQ(he(11, 160), 1201.0f);
}

TEST(Rate, ModesAndLimits)
{
	zev_wifi_sta s = sta(ZEV_PHY_VHT, 9, 80, 1, 2);
	EXPECT_FLOAT_EQ(zev_wifi_sta_rate(&s), 866.6f);
	s = sta(ZEV_PHY_HE, 11, 160, 0, 2);
	EXPECT_FLOAT_EQ(zev_wifi_sta_rate(&s), 2402.0f);
	s = sta(ZEV_PHY_OFDM, 7, 20, 0, 3);
	EXPECT_FLOAT_EQ(zev_wifi_sta_rate(&s), 54.0f);
	s = sta(ZEV_PHY_HT_MIX, 15, 40, 1, 2);
	EXPECT_FLOAT_EQ(zev_wifi_sta_rate(&s), 0.0f);
	s = sta(ZEV_PHY_CCK, 3, 20, 0, 1);
	EXPECT_FLOAT_EQ(zev_wifi_sta_rate(&s), 11.0f);
	s = sta(ZEV_PHY_CCK, 6, 20, 0, 1);
	EXPECT_FLOAT_EQ(zev_wifi_sta_rate(&s), 0.0f);
	s = sta(6, 0, 20, 0, 1);
	EXPECT_FLOAT_EQ(zev_wifi_sta_rate(&s), 0.0f);
	s = sta(ZEV_PHY_HE, 0, 160, 3, 1); // column 12 does not exist
	EXPECT_FLOAT_EQ(zev_wifi_sta_rate(&s), 0.0f);
}

TEST(Rate, RateWordDecoding)
{
	zev_wifi_sta s = {};
	zev::wifi::decode_rate_word(0x4287, s);
	EXPECT_EQ(s.phy_mode, ZEV_PHY_HT_MIX);
	EXPECT_EQ(s.mcs, 7);
	EXPECT_EQ(s.nss, 1);
	EXPECT_EQ(s.bw, 40);
	EXPECT_EQ(s.sgi, 1);
	zev::wifi::decode_rate_word(0x8295, s);
	EXPECT_EQ(s.phy_mode, ZEV_PHY_VHT);
	EXPECT_EQ(s.mcs, 5);
	EXPECT_EQ(s.nss, 2);
	EXPECT_EQ(s.bw, 40);
	EXPECT_EQ(s.sgi, 1);
	zev::wifi::decode_rate_word(0xE000 | (3 << 7) | (1 << 9) | 0x1B, s); // mode 7 (HE), 160 MHz
	EXPECT_EQ(s.phy_mode, ZEV_PHY_HE);
	EXPECT_EQ(s.mcs, 11);
	EXPECT_EQ(s.nss, 2);
	EXPECT_EQ(s.bw, 160);
	EXPECT_EQ(s.sgi, 0);
	zev::wifi::decode_rate_word(0x2000 | (1 << 9) | (1 << 7) | 5, s); // OFDM ignores width and GI
	EXPECT_EQ(s.phy_mode, ZEV_PHY_OFDM);
	EXPECT_EQ(s.bw, 20);
	EXPECT_EQ(s.sgi, 0);
	EXPECT_EQ(s.nss, 1);
}

} // namespace
