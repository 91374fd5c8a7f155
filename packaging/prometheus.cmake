# The alert rules for Prometheus, on the metrics that tsexTool --textfile
# writes for the node exporter: installed as data, for an administrator to
# name in the rule_files of prometheus.yml (tsexTool(8), MONITORING).
install(FILES ${CMAKE_CURRENT_LIST_DIR}/prometheus/tskit-alerts.yml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/tskit/prometheus)
