# Each probe includes a header from a layer its own layer may not use: every one must fail to
# build, and fail on the layer guard, not on anything else.
clefwork_layer_probe(rules rules_platform_clock)
clefwork_layer_probe(rules rules_listen_detector)
clefwork_layer_probe(platform platform_engine_notes)
clefwork_layer_probe(platform platform_ui_stavebass)
clefwork_layer_probe(listen listen_history_store)
clefwork_layer_probe(listen listen_ui_editcombo)
clefwork_layer_probe(history history_listen_listener)
clefwork_layer_probe(history history_engine_practice_state)
