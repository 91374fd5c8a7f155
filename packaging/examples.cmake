# Examples for the monitoring and fleet tools of the administrators, into
# /usr/share/tskit/examples: the Nagios command and service template, the
# Icinga 2 commands and apply rules, the NRPE command, the sudoers rule they
# all rely on, and the Ansible local fact with its playbook. Nothing is
# installed under /etc: each file says where to copy it.
set(TSKIT_EXAMPLES_SOURCE ${CMAKE_CURRENT_LIST_DIR}/examples)
set(TSKIT_EXAMPLES_DIR ${CMAKE_INSTALL_DATADIR}/tskit/examples)

install(FILES ${TSKIT_EXAMPLES_SOURCE}/nagios/tsextool.cfg
  DESTINATION ${TSKIT_EXAMPLES_DIR}/nagios)
install(FILES ${TSKIT_EXAMPLES_SOURCE}/icinga2/tsextool.conf
  DESTINATION ${TSKIT_EXAMPLES_DIR}/icinga2)
install(FILES ${TSKIT_EXAMPLES_SOURCE}/nrpe/tsextool.cfg
  DESTINATION ${TSKIT_EXAMPLES_DIR}/nrpe)
install(FILES ${TSKIT_EXAMPLES_SOURCE}/sudoers/tsextool
  DESTINATION ${TSKIT_EXAMPLES_DIR}/sudoers)
# The fact script runs where it is copied: executable as shipped.
install(PROGRAMS ${TSKIT_EXAMPLES_SOURCE}/ansible/tsextool.fact
  DESTINATION ${TSKIT_EXAMPLES_DIR}/ansible)
install(FILES ${TSKIT_EXAMPLES_SOURCE}/ansible/tsextool_redundancy.yml
  DESTINATION ${TSKIT_EXAMPLES_DIR}/ansible)
