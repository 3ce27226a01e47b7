# The notice channels and their outbox against real receivers on loopback: a receiver of ours for the
# hosted services' bodies, prometheus-alertmanager with amtool, apprise; on the embedded file and the
# private PostgreSQL server.
vkt_add_test(vkt_channel_tests LABELS integration TIMEOUT 300
             SOURCES ${CMAKE_CURRENT_LIST_DIR}/it_channels.cpp
             LIBS vkt_monitor vkt_db)
