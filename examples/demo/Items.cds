{"format":"kovira-dataset","version":1,
 "fields":[{"name":"gtin","type":1,"size":14},{"name":"name","type":24,"size":2048},
  {"name":"quantity","type":37,"size":3},{"name":"labels","type":1,"size":20},
  {"name":"unitPrice","type":37,"size":2},{"name":"totalAmount","type":37,"size":2}],
 "records":[["3870000000001","Kafa espresso","2","E","2.5","5"],
            ["","Voda 0,5 l","1","E","1.8","1.8"]]}
